#include "portal/ldap/ldap_connection.h"

#include <ldap.h>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <charconv>
#include <cstdio>
#include <utility>

#include "platform/com_error.h"
#include "platform/configuration.h"
#include "platform/database.h"
#include "platform/text.h"

namespace heliq {
namespace {

constexpr std::string_view kSection = "directory";

struct MessageFree {
  void operator()(LDAPMessage* message) const { ldap_msgfree(message); }
};
using MessagePtr = std::unique_ptr<LDAPMessage, MessageFree>;

struct ControlFree {
  void operator()(LDAPControl* control) const { ldap_control_free(control); }
};
struct ControlsFree {
  void operator()(LDAPControl** controls) const { ldap_controls_free(controls); }
};
struct ValuesFree {
  void operator()(berval** values) const { ldap_value_free_len(values); }
};
struct LdapMemFree {
  void operator()(char* text) const { ldap_memfree(text); }
};

// A cookie of the paged-results control; libldap allocates its bytes.
class Cookie {
 public:
  Cookie() = default;
  ~Cookie() { ber_memfree(value_.bv_val); }
  Cookie(const Cookie&) = delete;
  Cookie& operator=(const Cookie&) = delete;
  berval* get() { return &value_; }
  bool empty() const { return value_.bv_len == 0; }
  // Frees the old bytes; the caller fills get() anew.
  void Reset() {
    ber_memfree(value_.bv_val);
    value_ = berval{0, nullptr};
  }

 private:
  berval value_{0, nullptr};
};

std::string Setting(std::string_view key, std::string fallback = "") {
  std::string value(TrimSpace(SettingValue(kSection, key)));
  return value.empty() ? fallback : value;
}

[[noreturn]] void BadSetting(std::string_view class_id, std::string description) {
  throw ComError(err::kInvalidProcedureCall, std::string(class_id), std::move(description));
}

int PositiveSetting(std::string_view class_id, std::string_view key, int fallback) {
  const std::string text = Setting(key);
  if (text.empty()) return fallback;
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value <= 0) {
    BadSetting(class_id, "[directory] " + std::string(key) + " = '" + text +
                             "' is not a positive whole number");
  }
  return value;
}

bool TrueSetting(std::string_view key) {
  const std::string text = Setting(key);
  return text == "1" || EqualsIgnoreCase(text, "true") || EqualsIgnoreCase(text, "yes");
}

std::string Replace(std::string text, std::string_view placeholder, std::string_view value) {
  const size_t at = text.find(placeholder);
  if (at != std::string::npos) text.replace(at, placeholder.size(), value);
  return text;
}

timeval Seconds(int seconds) { return timeval{seconds, 0}; }

}  // namespace

LdapSettings LdapSettings::Read(std::string_view class_id) {
  LdapSettings s;
  s.uri = Setting("uri");
  if (s.uri.empty()) BadSetting(class_id, "[directory] uri is not set: name the LDAP server(s)");
  for (size_t start = 0; start < s.uri.size();) {
    const size_t space = std::min(s.uri.find(' ', start), s.uri.size());
    const std::string_view one = std::string_view(s.uri).substr(start, space - start);
    if (!one.empty() && !one.starts_with("ldap://") && !one.starts_with("ldaps://")) {
      BadSetting(class_id,
                 "[directory] uri '" + std::string(one) + "' is neither ldap:// nor ldaps://");
    }
    start = space + 1;
  }
  s.start_tls = TrueSetting("start_tls");
  s.ca_file = Setting("ca_file");
  s.base_dn = Setting("base_dn");
  if (s.base_dn.empty()) BadSetting(class_id, "[directory] base_dn is not set");
  s.user_filter = Setting("user_filter", s.user_filter);
  s.group_filter = Setting("group_filter", s.group_filter);
  s.role_group = Setting("role_group");
  s.attributes.login = Setting("login_attribute", "uid");
  s.attributes.given_name = Setting("given_name_attribute", "givenName");
  s.attributes.surname = Setting("surname_attribute", "sn");
  s.attributes.mail = Setting("mail_attribute", "mail");
  s.attributes.language_id = Setting("language_attribute", "languageId");
  s.attributes.country = Setting("country_attribute", "c");
  s.attributes.business_partner_id = Setting("business_partner_attribute", "businessPartnerId");
  s.attributes.registration_set = Setting("registration_set_attribute", "registrationSet");
  s.attributes.engineer_code = Setting("engineer_code_attribute", "employeeNumber");
  s.partner_base = Setting("partner_base", s.base_dn);
  s.partner_filter = Setting("partner_filter", s.partner_filter);
  s.partner_id_attribute = Setting("partner_id_attribute", s.partner_id_attribute);
  s.partner_name_attribute = Setting("partner_name_attribute", s.partner_name_attribute);
  s.timeout_seconds = PositiveSetting(class_id, "timeout", s.timeout_seconds);
  s.page_size = PositiveSetting(class_id, "page_size", s.page_size);
  return s;
}

std::string LdapSettings::RoleGroup(int32_t role) const {
  const std::string number = std::to_string(role);
  if (std::string group = Setting("role_" + number); !group.empty()) return group;
  if (role_group.empty()) return "";
  return Replace(role_group, "{role}", number);
}

std::string EscapeFilterValue(std::string_view value, bool keep_wildcards) {
  std::string escaped;
  escaped.reserve(value.size());
  for (char c : value) {
    switch (c) {
      case '*':
        // A run of wildcards is one wildcard; "**" is no filter a server accepts.
        if (!keep_wildcards) {
          escaped += "\\2a";
        } else if (escaped.empty() || escaped.back() != '*') {
          escaped += '*';
        }
        break;
      case '(':
        escaped += "\\28";
        break;
      case ')':
        escaped += "\\29";
        break;
      case '\\':
        escaped += "\\5c";
        break;
      case '\0':
        escaped += "\\00";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

std::string LdapEntry::First(std::string_view attribute) const {
  for (const auto& [name, values] : attributes) {
    if (EqualsIgnoreCase(name, attribute)) return values.empty() ? "" : values.front();
  }
  return "";
}

void LdapConnection::Unbind::operator()(LDAP* handle) const {
  ldap_unbind_ext_s(handle, nullptr, nullptr);
}

LdapConnection::LdapConnection(std::unique_ptr<LDAP, Unbind> handle, std::string class_id,
                               std::string uri, int timeout_seconds, int page_size)
    : handle_(std::move(handle)),
      class_id_(std::move(class_id)),
      uri_(std::move(uri)),
      timeout_seconds_(timeout_seconds),
      page_size_(page_size) {}

LdapConnection::~LdapConnection() = default;
LdapConnection::LdapConnection(LdapConnection&&) noexcept = default;
LdapConnection& LdapConnection::operator=(LdapConnection&&) noexcept = default;

LdapConnection LdapConnection::Open(const LdapSettings& settings, std::string_view class_id) {
  const std::string source(class_id);
  LDAP* raw = nullptr;
  if (const int rc = ldap_initialize(&raw, settings.uri.c_str()); rc != LDAP_SUCCESS) {
    BadSetting(class_id,
               "[directory] uri '" + settings.uri + "' is not usable: " + ldap_err2string(rc));
  }
  std::unique_ptr<LDAP, Unbind> handle(raw);
  const int version = LDAP_VERSION3;
  ldap_set_option(raw, LDAP_OPT_PROTOCOL_VERSION, &version);
  // Active Directory hands out referrals to other partitions; following them would bind
  // anonymously elsewhere.
  ldap_set_option(raw, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
  const timeval timeout = Seconds(settings.timeout_seconds);
  ldap_set_option(raw, LDAP_OPT_NETWORK_TIMEOUT, &timeout);
  ldap_set_option(raw, LDAP_OPT_TIMEOUT, &timeout);
  // TLS options are set on this handle only, with a context of its own: other connections and
  // other libraries in the process keep theirs. Plain connections skip the cost of a context.
  if (settings.start_tls || settings.uri.find("ldaps://") != std::string::npos) {
    const int demand = LDAP_OPT_X_TLS_DEMAND;
    ldap_set_option(raw, LDAP_OPT_X_TLS_REQUIRE_CERT, &demand);
    if (!settings.ca_file.empty()) {
      ldap_set_option(raw, LDAP_OPT_X_TLS_CACERTFILE, settings.ca_file.c_str());
    }
    const int client_context = 0;
    if (const int rc = ldap_set_option(raw, LDAP_OPT_X_TLS_NEWCTX, &client_context);
        rc != LDAP_OPT_SUCCESS) {
      throw ComError(err::kDbConnection, source,
                     "TLS for the directory server " + settings.uri + " cannot be set up" +
                         (settings.ca_file.empty() ? "" : " (CA file " + settings.ca_file + ")") +
                         ": " + ldap_err2string(rc));
    }
  }
  LdapConnection connection(std::move(handle), source, settings.uri, settings.timeout_seconds,
                            settings.page_size);
  if (settings.start_tls) {
    if (const int rc = ldap_start_tls_s(raw, nullptr, nullptr); rc != LDAP_SUCCESS) {
      throw ComError(err::kDbConnection, source,
                     "StartTLS with the directory server " + connection.ConnectedServer() +
                         " failed (" + ldap_err2string(rc) +
                         "); the connection is refused rather than used without TLS");
    }
  }
  return connection;
}

std::string LdapConnection::ConnectedServer() const {
  int socket = -1;
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (ldap_get_option(handle_.get(), LDAP_OPT_DESC, &socket) != LDAP_OPT_SUCCESS || socket < 0 ||
      getpeername(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return uri_;
  }
  char host[NI_MAXHOST], port[NI_MAXSERV];
  if (getnameinfo(reinterpret_cast<sockaddr*>(&address), length, host, sizeof host, port,
                  sizeof port, NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
    return uri_;
  }
  return std::string(host) + ":" + port;
}

void LdapConnection::Fail(int code, std::string_view what) const {
  const bool unreachable = code == LDAP_SERVER_DOWN || code == LDAP_CONNECT_ERROR ||
                           code == LDAP_TIMEOUT || code == LDAP_TIMELIMIT_EXCEEDED ||
                           code == LDAP_UNAVAILABLE || code == LDAP_BUSY;
  if (unreachable) {
    throw ComError(err::kDbConnection, class_id_,
                   "the directory server " + uri_ + " cannot be reached (" + std::string(what) +
                       "): " + ldap_err2string(code));
  }
  throw ComError(err::kDbError, class_id_,
                 "the directory server " + uri_ + " refused " + std::string(what) + ": " +
                     ldap_err2string(code));
}

bool LdapConnection::Bind(std::string_view dn, std::string_view password) {
  if (password.empty()) return false;
  const std::string name(dn);
  berval credentials{static_cast<ber_len_t>(password.size()), const_cast<char*>(password.data())};
  const int rc = ldap_sasl_bind_s(handle_.get(), name.c_str(), LDAP_SASL_SIMPLE, &credentials,
                                  nullptr, nullptr, nullptr);
  if (rc == LDAP_SUCCESS) return true;
  if (rc == LDAP_INVALID_CREDENTIALS || rc == LDAP_INVALID_DN_SYNTAX ||
      rc == LDAP_INAPPROPRIATE_AUTH || rc == LDAP_UNWILLING_TO_PERFORM) {
    return false;
  }
  Fail(rc, "the bind");
}

std::vector<LdapEntry> LdapConnection::Search(std::string_view base, Scope scope,
                                              std::string_view filter,
                                              const std::vector<std::string>& attributes) {
  const std::string base_dn(base), filter_text(filter);
  std::vector<char*> names;
  for (const auto& attribute : attributes) names.push_back(const_cast<char*>(attribute.c_str()));
  const std::string no_attributes = LDAP_NO_ATTRS;
  if (names.empty()) names.push_back(const_cast<char*>(no_attributes.c_str()));
  names.push_back(nullptr);

  LDAP* ld = handle_.get();
  timeval timeout = Seconds(timeout_seconds_);
  std::vector<LdapEntry> entries;
  Cookie cookie;
  do {
    LDAPControl* page_raw = nullptr;
    // Not critical: a server without paging answers at once, which is right for small groups.
    if (const int rc = ldap_create_page_control(ld, page_size_, cookie.get(), 0, &page_raw);
        rc != LDAP_SUCCESS) {
      Fail(rc, "a paged search");
    }
    std::unique_ptr<LDAPControl, ControlFree> page(page_raw);
    LDAPControl* server_controls[] = {page.get(), nullptr};
    LDAPMessage* result_raw = nullptr;
    const int rc = ldap_search_ext_s(ld, base_dn.c_str(),
                                     scope == Scope::kBase ? LDAP_SCOPE_BASE : LDAP_SCOPE_SUBTREE,
                                     filter_text.c_str(), names.data(), 0, server_controls, nullptr,
                                     &timeout, LDAP_NO_LIMIT, &result_raw);
    MessagePtr result(result_raw);
    if (rc == LDAP_NO_SUCH_OBJECT) {
      // An entry that is gone answers "none"; a search base that is not there is a setting that
      // names the wrong place, which would otherwise look like an empty directory.
      if (scope == Scope::kBase) return {};
      throw ComError(err::kInvalidProcedureCall, class_id_,
                     "the directory server " + uri_ + " holds no entry '" + base_dn +
                         "' to search below: check [directory] base_dn and partner_base");
    }
    if (rc != LDAP_SUCCESS) Fail(rc, "the search " + filter_text);
    for (LDAPMessage* entry = ldap_first_entry(ld, result.get()); entry != nullptr;
         entry = ldap_next_entry(ld, entry)) {
      LdapEntry read;
      if (char* dn = ldap_get_dn(ld, entry)) {
        std::unique_ptr<char, LdapMemFree> owned(dn);
        read.dn = owned.get();
      }
      for (const auto& attribute : attributes) {
        std::unique_ptr<berval*, ValuesFree> values(
            ldap_get_values_len(ld, entry, attribute.c_str()));
        std::vector<std::string> texts;
        for (berval** value = values.get(); value != nullptr && *value != nullptr; ++value) {
          texts.emplace_back((*value)->bv_val, (*value)->bv_len);
        }
        read.attributes.emplace_back(attribute, std::move(texts));
      }
      entries.push_back(std::move(read));
    }
    LDAPControl** controls_raw = nullptr;
    int code = LDAP_SUCCESS;
    if (const int parsed =
            ldap_parse_result(ld, result.get(), &code, nullptr, nullptr, nullptr, &controls_raw, 0);
        parsed != LDAP_SUCCESS) {
      Fail(parsed, "a paged search");
    }
    std::unique_ptr<LDAPControl*, ControlsFree> controls(controls_raw);
    LDAPControl* response = ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, controls.get(), nullptr);
    cookie.Reset();
    if (response == nullptr) break;
    ber_int_t estimate = 0;
    if (const int parsed = ldap_parse_pageresponse_control(ld, response, &estimate, cookie.get());
        parsed != LDAP_SUCCESS) {
      Fail(parsed, "a paged search");
    }
  } while (!cookie.empty());
  return entries;
}

}  // namespace heliq
