// One connection to an LDAP directory server over OpenLDAP's libldap, and the settings that say
// where the server is and how its entries are laid out ([directory] of the configuration).
//
// A connection is opened with StartTLS when the settings ask for it and fails rather than go on
// in the clear; ldaps:// URIs use TLS from the first byte. Several URIs (separated by spaces) are
// tried in order until one answers: fail-over. Every operation waits at most `timeout_seconds`.
//
// Failures are ComErrors from the class named at Open: err::kDbConnection when no server can be
// reached, TLS cannot be set up or an operation times out; err::kInvalidProcedureCall for settings
// that are missing or wrong; err::kDbError for any other refusal of the server. No error text or
// log entry contains a password.
//
// Thread safety: one connection per thread at a time (libldap's handles are not shared); separate
// connections may run concurrently.
#ifndef HELIQ_PORTAL_LDAP_LDAP_CONNECTION_H_
#define HELIQ_PORTAL_LDAP_LDAP_CONNECTION_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "portal/directory/directory_store.h"

struct ldap;

namespace heliq {

struct LdapSettings {
  std::string uri;  // one or more ldap:// or ldaps:// URIs, separated by spaces
  bool start_tls = false;
  std::string ca_file;  // PEM file of the certificate authorities to trust; "" the system's
  std::string base_dn;  // where people are searched (whole subtree)
  std::string user_filter = "(objectClass=inetOrgPerson)";
  // Narrows people to the members of one group; {group} stands for the group's DN.
  std::string group_filter = "(memberOf={group})";
  // The DN of the group of a role; {role} stands for the number. role_<n> keys override it.
  std::string role_group;
  // The LDAP attribute behind each member-table attribute (login, given name, ...).
  DirectoryUser attributes;
  std::string partner_base;  // where business partners are searched; "" the base DN
  std::string partner_filter = "(objectClass=deskPartner)";
  std::string partner_id_attribute = "businessPartnerId";
  std::string partner_name_attribute = "o";
  int timeout_seconds = 10;
  int page_size = 500;

  // The settings of [directory]; error 5 naming the setting when uri or base_dn is missing, a
  // URI is neither ldap:// nor ldaps://, or a number is not a positive whole number.
  static LdapSettings Read(std::string_view class_id);
  // The DN of the group that holds `role`; "" when none is configured.
  std::string RoleGroup(int32_t role) const;
};

// RFC 4515: `value` with *, (, ), \ and NUL written as \2a, \28, \29, \5c and \00, so that it can
// only ever be a value inside a filter. With `keep_wildcards`, "*" stays a wildcard (a run of
// them one wildcard).
std::string EscapeFilterValue(std::string_view value, bool keep_wildcards = false);

// An entry as read: its DN and the values of the attributes asked for.
struct LdapEntry {
  std::string dn;
  std::vector<std::pair<std::string, std::vector<std::string>>> attributes;
  // The first value of `attribute` (without regard to case); "" when it has none.
  std::string First(std::string_view attribute) const;
};

class LdapConnection {
 public:
  enum class Scope { kBase, kSubtree };

  // Prepares a connection to the configured servers (StartTLS first when configured). The first
  // server contact happens here when StartTLS is on, else at the first Bind.
  static LdapConnection Open(const LdapSettings& settings, std::string_view class_id);
  ~LdapConnection();
  LdapConnection(LdapConnection&&) noexcept;
  LdapConnection& operator=(LdapConnection&&) noexcept;

  // A simple bind. True when the server accepts `dn` with `password`; false when it refuses the
  // credentials. An empty password is refused here without asking the server: servers treat it
  // as an anonymous (unauthenticated) bind, which must never count as a sign-in.
  bool Bind(std::string_view dn, std::string_view password);
  // Every entry below (or at) `base` that matches `filter`, with `attributes`, read in pages of
  // page_size entries (RFC 2696) so that big groups pass servers' size limits. A base that does
  // not exist is error 5 for a subtree search and no entry for a base search.
  std::vector<LdapEntry> Search(std::string_view base, Scope scope, std::string_view filter,
                                const std::vector<std::string>& attributes);
  // The address (host:port) of the server this connection talks to; the configured URIs before
  // the first contact.
  std::string ConnectedServer() const;

 private:
  struct Unbind {
    void operator()(struct ldap* handle) const;
  };
  LdapConnection(std::unique_ptr<struct ldap, Unbind> handle, std::string class_id, std::string uri,
                 int timeout_seconds, int page_size);
  [[noreturn]] void Fail(int code, std::string_view what) const;

  std::unique_ptr<struct ldap, Unbind> handle_;
  std::string class_id_;
  std::string uri_;
  int timeout_seconds_;
  int page_size_;
};

}  // namespace heliq

#endif  // HELIQ_PORTAL_LDAP_LDAP_CONNECTION_H_
