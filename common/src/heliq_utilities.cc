#include "common/heliq_utilities.h"

#include <langinfo.h>
#include <locale.h>

#include <cstdio>
#include <exception>
#include <iostream>

#include "platform/clock.h"
#include "platform/configuration.h"
#include "platform/log.h"
#include "platform/object_context.h"

namespace heliq {
namespace {

constexpr std::string_view kGetComponentSource = "HeliqUtilies.GetComponent";
constexpr std::string_view kHeliqConnectionSource =
    "HlqServiceRequestHeliqUtilities.GetHeliqConnection";
constexpr std::string_view kCatalogueConnectionSource =
    "HlqServiceRequestHeliqUtilities.GetRAvuruvoConnection";
constexpr std::string_view kParamValueSource = "HeliqProcess.Dispatch.GetParamValue";
constexpr std::string_view kCloseConnectionSource = "HeliqUtilities.CloseConnection";
constexpr std::string_view kCloseRecordsetSource = "HeliqUtilities.CloseRecordset";

constexpr std::string_view kSelectParamValue =
    "select PARAM_VALUE from PARAMETERS where PARAM_NAME = ?";

std::unique_ptr<Connection> OpenApplicationConnection(std::string_view selected,
                                                      std::string_view application,
                                                      std::string_view source) {
  try {
    auto configuration = GetComponentAs<Configuration>(kConfigurationClassId);
    configuration->SelectApplication(selected, 0);
    const std::string connection_string = configuration->GetConnectionString(application);
    return Connection::Open(connection_string, configuration->GetInstallDir());
  } catch (...) {
    ReportError(source);
    throw;
  }
}

// Runs `close` with the trap rule of the close operations: while a failure is being handled the
// close arms no trap of its own, so its own failure propagates instead of being reported.
template <typename F>
void CloseWithTrap(std::string_view source, F&& close) {
  if (std::uncaught_exceptions() > 0 || std::current_exception()) {
    close();
    return;
  }
  try {
    close();
  } catch (...) {
    ReportError(source);
  }
}

}  // namespace

std::unique_ptr<Component> GetComponent(std::string_view class_id) {
  ObjectContext* context = GetObjectContext();
  try {
    if (context != nullptr) return context->CreateInstance(class_id);
    return ComponentRegistry::Global().Create(class_id);
  } catch (...) {
    const std::string id(class_id);
    ReportError(kGetComponentSource,
                context != nullptr
                    ? Variant("CreateInstance(" + id +
                              ") failed.\r\nNote: Objects having "
                              "'Instancing=PublicNotCreatable' may only be instantiated with "
                              "'New', not with GetComponent()")
                    : Variant("CreateObject(" + id + ") failed"));
    throw;
  }
}

std::unique_ptr<Connection> GetHeliqConnection() {
  return OpenApplicationConnection("Heliq", "Heliq", kHeliqConnectionSource);
}

std::unique_ptr<Connection> GetRAvuruvoConnection() {
  return OpenApplicationConnection("XeServer", "RAvuruvo", kCatalogueConnectionSource);
}

void CloseConnection(std::unique_ptr<Connection>& connection) {
  CloseWithTrap(kCloseConnectionSource, [&] {
    if (connection && connection->is_open()) connection->Close();
  });
  connection.reset();
}

void CloseRecordset(std::unique_ptr<Recordset>& recordset) {
  CloseWithTrap(kCloseRecordsetSource, [&] {
    if (recordset && recordset->is_open()) {
      if (recordset->edit_pending()) recordset->CancelUpdate();
      recordset->Close();
    }
  });
  recordset.reset();
}

void CommitContext() {
  if (ObjectContext* context = GetObjectContext()) context->SetComplete();
}

void AbortContext() {
  if (ObjectContext* context = GetObjectContext()) context->SetAbort();
}

std::string GetInstallDir() {
  return GetComponentAs<Configuration>(kConfigurationClassId)->GetInstallDir();
}

std::string GetParamValue(std::string_view name) {
  try {
    auto connection = GetHeliqConnection();
    auto recordset = Recordset::Open(*connection, kSelectParamValue, {Variant(name)});
    std::string value = recordset->eof() ? "" : recordset->Field("PARAM_VALUE").ToTextOrEmpty();
    CloseRecordset(recordset);
    CloseConnection(connection);
    return value;
  } catch (...) {
    ReportError(kParamValueSource);
    throw;
  }
}

namespace {

// One error entry through the log component; a failure of the log goes to standard error.
void WriteLogEntry(const std::string& source, const std::string& text) {
  try {
    auto log = ComponentAs<Log>(ComponentRegistry::Global().Create(kLogClassId), kLogClassId);
    log->LogEvent(source, text, 0, Variant());
  } catch (...) {
    std::cerr << RedactSecrets(EscapeControlCharacters(text)) << std::endl;
  }
}

}  // namespace

void ReportError(std::string_view source, const Variant& info) {
  const std::string information = info.ToTextOrEmpty();
  if (!std::current_exception()) {
    WriteErrorLog(source, info.IsEmpty() ? "" : " Additional information: " + information);
    return;
  }
  const ComError pending = CurrentError();
  constexpr std::string_view kReportStart = "\r\nMETHOD: ";
  std::string message = std::string(kReportStart) + std::string(source) +
                        " caught: " + pending.description() + "(" +
                        std::to_string(pending.number()) + ").";
  if (!info.IsEmpty()) message += " Additional information: " + information;
  if (pending.description().starts_with(kReportStart)) {
    // An inner frame already wrote the report this one wraps: writing it again at every level
    // would grow the log with the square of the depth, and a long argument with it.
    std::string text = std::string(source) + " caught the failure reported above(" +
                       std::to_string(pending.number()) + ").";
    if (!info.IsEmpty()) text += " Additional information: " + information;
    WriteLogEntry(pending.source(), text);
  } else {
    WriteErrorLog(source, message);
  }
  throw ComError(pending.number(), pending.source(), message, pending.help_file(),
                 pending.help_context());
}

void WriteErrorLog(std::string_view source, const std::optional<std::string>& info) {
  ComError pending(0, "", "");
  if (std::current_exception()) pending = CurrentError();
  std::string text = std::string(source) + " caught: " + pending.description() + "(" +
                     std::to_string(pending.number()) + ").";
  if (info) text += " Additional information: " + *info;
  WriteLogEntry(pending.source(), text);
}

std::string SQLEncode(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  out += '\'';
  return out;
}

std::string ToSQLTimestamp(const DateTime& time) { return "{ts '" + time.ToText() + "'}"; }

DateTime GetCurrentDateTime() { return Now(); }

std::string GetDateSeparator() {
  locale_t locale = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) return "";
  const std::string format = nl_langinfo_l(D_FMT, locale);
  freelocale(locale);
  // The separator is the first character that is not part of a "%X" field.
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%') {
      ++i;
      while (i < format.size() && (format[i] == 'E' || format[i] == 'O')) ++i;
      continue;
    }
    return std::string(1, format[i]);
  }
  return "";
}

std::string XMLEncodeText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

Variant XMLEncode(const Variant& value) {
  if (!value.IsText()) return value;
  return Variant(XMLEncodeText(value.ToText()));
}

Variant EncodeApostrophe(const Variant& value) {
  if (value.IsNull()) return value;
  const std::string text = value.ToText();
  std::string out;
  for (char c : text) {
    if (c == '\'') {
      out += "&apos;";
    } else {
      out += c;
    }
  }
  return Variant(std::move(out));
}

std::string FormatDateText(const Variant& value) {
  if (value.IsBlank()) return "";
  const DateTime d = value.ToDate();
  const std::string text = d.ToText();
  return d.hour == 0 && d.minute == 0 && d.second == 0 ? text.substr(0, 10) : text;
}

int32_t ToLongThroughEncoder(const Variant& value) {
  if (value.IsEmpty() || value.IsNull()) return 0;
  return value.ToLong();
}

}  // namespace heliq
