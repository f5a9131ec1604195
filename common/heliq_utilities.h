// The component frame shared by every deliverable: collaborating objects, connections, votes,
// parameters, failure reporting and the small text helpers statements are built with.
//
// Every function may be called with or without an object context (see platform/object_context.h):
// inside one, objects join the call and connections share its sessions; outside one, objects are
// created directly, statements commit as they run and votes are skipped.
//
// Thread safety: all functions may run concurrently on different threads; none keeps state
// between calls.
#ifndef HELIQ_COMMON_HELIQ_UTILITIES_H_
#define HELIQ_COMMON_HELIQ_UTILITIES_H_

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/com_error.h"
#include "platform/component.h"
#include "platform/connection.h"
#include "platform/variant.h"

namespace heliq {

// A new object of `class_id`, created through the context when there is one. A failure is
// reported under "HeliqUtilies.GetComponent" and re-raised (error 429 for a missing component).
std::unique_ptr<Component> GetComponent(std::string_view class_id);

// GetComponent, cast to the interface the caller needs (error 13 when it offers another one).
template <typename T>
std::unique_ptr<T> GetComponentAs(std::string_view class_id) {
  return ComponentAs<T>(GetComponent(class_id), class_id);
}

// A new object of `class_id` created directly, outside the context, cast to T. The outside
// components (file handling, back office, directory) are created this way. Errors: 429 when the
// identifier is not registered, 13 when the object is not a T.
template <typename T>
std::unique_ptr<T> CreateObjectAs(std::string_view class_id) {
  return ComponentAs<T>(ComponentRegistry::Global().Create(class_id), class_id);
}

// An open connection to the system's database (application "Heliq"). Failures are reported under
// "HlqServiceRequestHeliqUtilities.GetHeliqConnection".
std::unique_ptr<Connection> GetHeliqConnection();
// An open connection to the catalogue database ("RAvuruvo", selected under "XeServer").
std::unique_ptr<Connection> GetRAvuruvoConnection();

// Close the object if it is open and empty the reference. Called while a failure is being
// handled, a failure while closing never replaces the pending one.
void CloseConnection(std::unique_ptr<Connection>& connection);
void CloseRecordset(std::unique_ptr<Recordset>& recordset);

// Vote commit / abort on the current context; nothing without one.
void CommitContext();
void AbortContext();

// The installation directory from the configuration.
std::string GetInstallDir();

// PARAM_VALUE of the PARAMETERS row named `name` (compared without regard to case), "" when there
// is none. Failures are reported under "HeliqProcess.Dispatch.GetParamValue".
std::string GetParamValue(std::string_view name);

// Reports the failure in flight: writes one log entry and throws a ComError with the same number,
// source, help file and help context and the description
//   "\r\nMETHOD: " + source + " caught: " + description + "(" + number + ")."
//   [+ " Additional information: " + info]
// Must be called inside a catch handler to report; with no failure in flight it only logs and
// returns. An empty `info` means "no information".
void ReportError(std::string_view source, const Variant& info = Variant());

// Writes one entry to the log component: source + " caught: " + description of the failure in
// flight + "(" + its number + ")." [+ " Additional information: " + info]. A failure of the log
// itself is written to standard error and never replaces the failure being reported.
void WriteErrorLog(std::string_view source, const std::optional<std::string>& info);

// The text as a complete SQL string literal with embedded quotes doubled ("" gives '').
std::string SQLEncode(std::string_view text);
// {ts 'YYYY-MM-DD hh:mm:ss'}
std::string ToSQLTimestamp(const DateTime& time);
// The current local date and time, whole seconds. Operations take it once and use it for every
// row they write.
DateTime GetCurrentDateTime();
// The date separator of the user's locale, "" when the locale gives none.
std::string GetDateSeparator();
// "&", "<", ">" replaced by entities (ampersand first); non-text values are returned unchanged.
Variant XMLEncode(const Variant& value);
// The same for a text.
std::string XMLEncodeText(std::string_view text);
// Every "'" replaced by "&apos;"; null is returned unchanged.
Variant EncodeApostrophe(const Variant& value);
// A date value as text: "YYYY-MM-DD" at midnight, else "YYYY-MM-DD hh:mm:ss"; empty and null
// give "". Text that is not a date raises error 13.
std::string FormatDateText(const Variant& value);
// The value as a 32-bit whole number, halves rounded to even; empty and null give 0.
int32_t ToLongThroughEncoder(const Variant& value);

}  // namespace heliq

#endif  // HELIQ_COMMON_HELIQ_UTILITIES_H_
