// ComError, the one failure type of the system, and the error numbers it carries.
//
// Every failure that crosses an operation boundary is a ComError: number, source, description,
// help file and help context. The numbers below are the whole vocabulary; docs/errors.md explains
// each and the HTTP host maps them to statuses in one table.
#ifndef HELIQ_PLATFORM_COM_ERROR_H_
#define HELIQ_PLATFORM_COM_ERROR_H_

#include <cstdint>
#include <exception>
#include <string>

namespace heliq {

namespace err {
// Language-level errors, numbered as a caller of a component library expects them.
inline constexpr int32_t kInvalidProcedureCall = 5;
inline constexpr int32_t kOverflow = 6;
inline constexpr int32_t kSubscriptOutOfRange = 9;
inline constexpr int32_t kTypeMismatch = 13;
inline constexpr int32_t kFileNotFound = 53;
inline constexpr int32_t kPathFileAccess = 75;
inline constexpr int32_t kPathNotFound = 76;
inline constexpr int32_t kInvalidUseOfNull = 94;
inline constexpr int32_t kCannotCreateComponent = 429;
inline constexpr int32_t kArgumentNotOptional = 449;
inline constexpr int32_t kMethodNotSupported = 438;
// The back office refused an update.
inline constexpr int32_t kBackOfficeRefused = 1099;
// Bad input at the host boundary: unknown class or operation, malformed arguments.
inline constexpr int32_t kBadRequest = 1100;
// The caller is not allowed to call (missing or wrong token).
inline constexpr int32_t kUnauthorized = 1101;
// A mail could not be handed to the mail server.
inline constexpr int32_t kMailNotSent = 1102;
// The call ran past its deadline and was rolled back.
inline constexpr int32_t kCallDeadlineExceeded = 1103;
// No resource (request) has this id.
inline constexpr int32_t kResourceNotFound = 1104;
// The request body is over the size limit.
inline constexpr int32_t kPayloadTooLarge = 1105;
// The host is shutting down and takes no new calls.
inline constexpr int32_t kHostStopping = 1106;
// The caller is known but may not do this (his role, or not his request).
inline constexpr int32_t kForbidden = 1107;
// Too many failed sign-ins for the account or the address: refused without a check for a while.
inline constexpr int32_t kTooManyAttempts = 1108;
// A scheduled service is running elsewhere: another host or process holds its lease.
inline constexpr int32_t kServiceBusy = 1109;
// Database provider errors (numbers as the data-access layer reports them).
inline constexpr int32_t kDbError = -2147467259;       // 0x80004005 unspecified failure
inline constexpr int32_t kDbSyntax = -2147217900;      // 0x80040E14 statement failed
inline constexpr int32_t kDbConstraint = -2147217873;  // 0x80040E2F integrity violation
inline constexpr int32_t kDbRowChanged = -2147217864;  // 0x80040E38 optimistic check failed
inline constexpr int32_t kDbConnection = -2147467260;  // 0x80004004 cannot connect / aborted
inline constexpr int32_t kDbNoCurrentRow = 3021;       // no current record
inline constexpr int32_t kItemNotFound = 3265;         // no field of that name
inline constexpr int32_t kFileServer = -2147220479;    // 0x80040401 file server refused
}  // namespace err

// The default description of a number ("Overflow", "Type mismatch", ...), "" when it has none.
std::string DefaultErrorDescription(int32_t number);

class ComError : public std::exception {
 public:
  ComError(int32_t number, std::string source, std::string description, std::string help_file = "",
           int32_t help_context = 0);
  // An error with the number's default description.
  static ComError Of(int32_t number, std::string source = "");

  int32_t number() const { return number_; }
  const std::string& source() const { return source_; }
  const std::string& description() const { return description_; }
  const std::string& help_file() const { return help_file_; }
  int32_t help_context() const { return help_context_; }
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  int32_t number_;
  std::string source_;
  std::string description_;
  std::string help_file_;
  int32_t help_context_;
};

// The failure in flight as a ComError: a ComError as it is, any other exception as an unspecified
// failure carrying its what() text. Must be called inside a catch handler.
ComError CurrentError();

}  // namespace heliq

#endif  // HELIQ_PLATFORM_COM_ERROR_H_
