// The directory components over an LDAP server ([directory] kind = "ldap"): the same interfaces,
// answers and errors as the embedded directory (portal/directory), read from the server instead
// of tables.
//
// - "XeMembership.User" and "XeMembership.Members" bind with the account they are given (the
//   [membership] account and password); the server's refusal is error 1101, naming the account
//   only. An empty bind password is refused the same way before the server is asked.
// - "XeCommon.User", "XeCommon.BusinessPartner" and "Heliq.DirectorySignIn" bind with the
//   [membership] account themselves.
// - "Heliq.DirectorySignIn" finds the person's entry with the service account, then binds as that
//   entry with the given password; Heliq keeps no password of LDAP users. An empty password never
//   reaches the server.
// - A role's members come from one search per call (people matching the group filter of the
//   role's group), read in pages; every value put into a filter is escaped (RFC 4515).
// - A server that cannot be reached, or TLS that cannot be set up, is error err::kDbConnection;
//   nothing is read in the clear when TLS was asked for.
//
// Thread safety: each object holds its own connection (opened at BindAs or per call) and is used
// by one thread at a time; separate objects may run concurrently, as heliqd's call threads do.
#ifndef HELIQ_PORTAL_LDAP_LDAP_COMPONENTS_H_
#define HELIQ_PORTAL_LDAP_LDAP_COMPONENTS_H_

#include <memory>

#include "common/directory.h"

namespace heliq {

// True when [directory] kind is "ldap", false when it is "embedded" or not set; error 5 naming the
// value otherwise.
bool DirectoryIsLdap();

// The LDAP objects behind the class identifiers of common/directory.h; each opens its connection
// when bound (or per call for the three that need no bind) and closes it when destroyed.
std::unique_ptr<MembershipUser> NewLdapMembershipUser();
std::unique_ptr<MembershipMembers> NewLdapMembershipMembers();
std::unique_ptr<PortalUser> NewLdapPortalUser();
std::unique_ptr<BusinessPartner> NewLdapBusinessPartner();
std::unique_ptr<DirectorySignIn> NewLdapDirectorySignIn();

}  // namespace heliq

#endif  // HELIQ_PORTAL_LDAP_LDAP_COMPONENTS_H_
