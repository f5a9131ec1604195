#include "common/lookups.h"

#include <cctype>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <optional>

#include "common/heliq_utilities.h"
#include "common/operation_frame.h"
#include "platform/configuration.h"
#include "platform/connection.h"
#include "platform/object_context.h"
#include "platform/text.h"

namespace heliq {
namespace {

constexpr std::string_view kExactNameSource = "GetExactFirstName";

// Display names must fit this many characters, first name + blank + last name.
constexpr size_t kListNameWidth = 24;
// A name that is kept (not cut to its initial) keeps at most this many characters.
constexpr size_t kKeptNameLength = 16;
// Japanese: the family name is written first, so it is the one cut to an initial.
constexpr int32_t kLocaleJapanese = 1041;

constexpr std::string_view kDeleteCceRules = "DELETE FROM CCEDISRULE WHERE LOGIN = ?";
constexpr std::string_view kDeleteSceRules = "DELETE FROM SCEDISRULE WHERE LOGIN = ?";
constexpr std::string_view kSelectLastSynchronizedDate =
    "select PARAMETERS.PARAM_VALUE from PARAMETERS where PARAM_NAME = 'LastSynchronizedDate' "
    "and PARAM_TYPE = ?";

constexpr std::string_view kMembershipSection = "membership";

// Length in bytes of the UTF-8 sequence that starts with `lead` (1 for a stray byte, so text that
// is not valid UTF-8 still counts one character per byte and is never cut inside a sequence).
size_t SequenceLength(std::string_view text, size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  size_t length = 1;
  if (lead >= 0xF0 && lead < 0xF8) {
    length = 4;
  } else if (lead >= 0xE0) {
    length = lead < 0xF0 ? 3 : 1;
  } else if (lead >= 0xC0) {
    length = 2;
  }
  if (at + length > text.size()) return 1;
  for (size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return 1;
  }
  return length;
}

size_t CharacterCount(std::string_view text) {
  size_t count = 0;
  for (size_t at = 0; at < text.size(); at += SequenceLength(text, at)) ++count;
  return count;
}

// The first `count` characters of `text`.
std::string LeadingCharacters(std::string_view text, size_t count) {
  size_t at = 0;
  for (size_t taken = 0; taken < count && at < text.size(); ++taken) {
    at += SequenceLength(text, at);
  }
  return std::string(text.substr(0, at));
}

std::string Initial(std::string_view name) { return LeadingCharacters(name, 1) + "."; }

bool FitsList(std::string_view first_name, std::string_view last_name) {
  return CharacterCount(first_name) + CharacterCount(last_name) + 1 <= kListNameWidth;
}

// A whole number written as text (blanks around allowed); nullopt otherwise.
std::optional<int64_t> WholeNumber(std::string_view text) {
  text = TrimSpace(text);
  if (text.empty() || text.size() > 18) return std::nullopt;
  size_t at = (text[0] == '-' || text[0] == '+') ? 1 : 0;
  if (at == text.size()) return std::nullopt;
  for (size_t i = at; i < text.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
  }
  return std::strtoll(std::string(text).c_str(), nullptr, 10);
}

void DeleteRules(std::string_view statement, std::string_view login) {
  auto connection = GetHeliqConnection();
  connection->Execute(statement, {Variant(login)});
  CloseConnection(connection);
}

// The configuration component, created directly: the directory account is read outside the
// call's context, as the directory objects themselves are.
std::unique_ptr<Configuration> DirectConfiguration() {
  return CreateObjectAs<Configuration>(kConfigurationClassId);
}

}  // namespace

std::string GetExactFirstName(std::string_view first_name, std::string_view last_name,
                              int32_t locale) {
  return RunOperation(kExactNameSource, [&] {
    if (FitsList(first_name, last_name)) return std::string(first_name);
    return locale == kLocaleJapanese ? LeadingCharacters(first_name, kKeptNameLength)
                                     : Initial(first_name);
  });
}

std::string GetExactLastName(std::string_view first_name, std::string_view last_name,
                             int32_t locale) {
  return RunOperation(kExactNameSource, [&] {
    if (FitsList(first_name, last_name)) return std::string(last_name);
    return locale == kLocaleJapanese ? Initial(last_name)
                                     : LeadingCharacters(last_name, kKeptNameLength);
  });
}

void DeleteCCEDispatchRules(std::string_view login) { DeleteRules(kDeleteCceRules, login); }

void DeleteSCEDispatchRules(std::string_view login) { DeleteRules(kDeleteSceRules, login); }

std::string MembershipBindName(std::string_view account, std::string_view root) {
  if (root.empty()) return std::string(account);
  return std::string(account) + "," + std::string(root);
}

std::string SiteConfigurationPath(Configuration& configuration) {
  if (std::string file = SettingsFile(); !file.empty()) return file;
  if (const char* path = std::getenv("HELIQ_CONFIG"); path != nullptr && *path != '\0') {
    return std::filesystem::absolute(path).lexically_normal().string();
  }
  return configuration.GetInstallDir() + "/config/heliq.toml";
}

MembershipAccount ReadMembershipAccount(Configuration& configuration) {
  MembershipAccount account;
  account.config_path = SiteConfigurationPath(configuration);
  account.bind_user = MembershipBindName(configuration.GetValue(kMembershipSection, "account"),
                                         configuration.GetValue(kMembershipSection, "root"));
  account.password = configuration.GetValue(kMembershipSection, "password");
  return account;
}

std::unique_ptr<MembershipUser> BindDirectoryUser(std::string_view login) {
  const MembershipAccount account = ReadMembershipAccount(*DirectConfiguration());
  auto user = CreateObjectAs<MembershipUser>(kMembershipUserClassId);
  user->SetServerInfo(account.config_path);
  user->BindAs(login, account.bind_user, account.password);
  return user;
}

std::unique_ptr<MembershipMembers> BindDirectoryMembers() {
  const MembershipAccount account = ReadMembershipAccount(*DirectConfiguration());
  auto members = CreateObjectAs<MembershipMembers>(kMembershipMembersClassId);
  members->SetServerInfo(account.config_path);
  members->BindAs(account.bind_user, account.password);
  return members;
}

std::unique_ptr<MembershipUser> GetUserFromID(std::string_view user_id) {
  // Inside a failure path the trap stays disarmed, so that a failure here is not mistaken for the
  // "no such user" answer and the caller's own handling sees it.
  if (std::current_exception() || std::uncaught_exceptions() > 0) {
    return BindDirectoryUser(user_id);
  }
  try {
    return BindDirectoryUser(user_id);
  } catch (...) {
    return nullptr;
  }
}

std::string GetLastSynchronizedDate(std::string_view parameter_type) {
  std::string value;
  try {
    // A failed read must not spoil the call's transaction; reading undoes nothing, so the
    // savepoint is left by rolling back.
    Savepoint part;
    // The type is a number; anything else can match no row.
    const std::optional<int64_t> type = WholeNumber(parameter_type);
    if (!type) return value;
    auto connection = GetHeliqConnection();
    auto recordset = Recordset::Open(*connection, kSelectLastSynchronizedDate, {Variant(*type)});
    for (; !recordset->eof(); recordset->MoveNext()) {
      value = std::string(TrimSpace(recordset->Field("PARAM_VALUE").ToTextOrEmpty()));
    }
    CloseRecordset(recordset);
    CloseConnection(connection);
  } catch (...) {
    // What was read so far is the answer; the caller decides what an empty date means.
  }
  return value;
}

std::string GetBackendComponentId() {
  try {
    auto selector = CreateObjectAs<BackendSelector>(kBackendSelectorClassId);
    const int32_t backend = selector->SelectDefaultBackend();
    return selector->GetBackendProperties(backend)->Get("componentid").ToTextOrEmpty();
  } catch (...) {
    return "";
  }
}

}  // namespace heliq
