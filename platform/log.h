// The portal log component ("Xentra.Log"): one entry per reported failure.
//
// The embedded component writes through spdlog to the file named by [log] file (stderr when none
// is configured or it cannot be opened). Every known secret (see SecretValues) is blanked out of
// an entry before it is written; each entry is one line (control characters escaped, see
// EscapeControlCharacters) of at most 16 KiB. Errors are flushed at once, other lines within a
// second.
//
// Thread safety: LogEvent may be called from any thread.
#ifndef HELIQ_PLATFORM_LOG_H_
#define HELIQ_PLATFORM_LOG_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/component.h"
#include "platform/variant.h"

namespace heliq {

inline constexpr std::string_view kLogClassId = "Xentra.Log";

class Log : public Component {
 public:
  // Writes one entry. `level` 0 is an error; higher levels are less severe. `extra` is passed
  // through to the entry when not empty.
  virtual void LogEvent(std::string_view source, std::string_view text, int32_t level,
                        const Variant& extra) = 0;
};

// Replaces every occurrence of every known secret in `text` by "***", and every password written
// in a connection string (`password=...`, `scheme://user:password@`) whether configured or not.
std::string RedactSecrets(std::string text);
// `text` with its control characters visible: CR, LF, NUL and tab as \r \n \0 \t, others as
// \xNN, a backslash doubled. Other bytes (UTF-8 included) pass unchanged.
std::string EscapeControlCharacters(std::string_view text);
// How an error text quotes what a caller sent: at most `max_bytes` bytes of it ("..." marks a
// cut), control characters escaped, a double quote as \", all between double quotes. No secret
// is blanked in it: a blanked guess would tell the caller that it was right.
std::string QuoteCallerText(std::string_view text, size_t max_bytes = 64);
// Writes an operational line (host start, access log...) to the same log file.
void LogInfo(std::string_view text);
// Registers the "Xentra.Log" component.
void RegisterLogComponent();

}  // namespace heliq

#endif  // HELIQ_PLATFORM_LOG_H_
