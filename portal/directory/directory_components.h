// The embedded directory's components: "XeMembership.User", "XeMembership.Members",
// "XeCommon.User" and "XeCommon.BusinessPartner" over the tables of DirectoryStore.
//
// Binding checks the bind account against [membership] of the configuration: the bind name must be
// `account` (followed by "," and `root` when a root is set, compared without regard to case) and
// the password `password` (HELIQ_MEMBERSHIP_PASSWORD when set). With an empty `account` the
// embedded directory has no account to check and accepts any bind: its tables are only as open
// as the database that holds them.
#ifndef HELIQ_PORTAL_DIRECTORY_DIRECTORY_COMPONENTS_H_
#define HELIQ_PORTAL_DIRECTORY_DIRECTORY_COMPONENTS_H_

namespace heliq {

// Registers the directory components (the four above and "Heliq.DirectorySignIn") under their
// class identifiers. Each creation reads [directory] kind: "embedded" (or no setting) gives these
// objects, "ldap" those of portal/ldap/ldap_components.h, anything else error 5.
void RegisterDirectoryComponents();

}  // namespace heliq

#endif  // HELIQ_PORTAL_DIRECTORY_DIRECTORY_COMPONENTS_H_
