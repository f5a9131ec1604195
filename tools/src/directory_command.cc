// heliq directory: says which directory is configured, tests the connection to it and looks people
// up (embedded or LDAP); looks at and changes the embedded directory (users, roles, business
// partners, passwords).
#include <termios.h>
#include <unistd.h>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "common/directory.h"
#include "common/lookups.h"
#include "platform/com_error.h"
#include "platform/configuration.h"
#include "portal/directory/directory_store.h"
#include "portal/ldap/ldap_components.h"
#include "portal/ldap/ldap_connection.h"
#include "tools/commands.h"

namespace heliq::tools {
namespace {

std::string Roles(const std::vector<int32_t>& roles) {
  std::string text;
  for (int32_t role : roles) text += (text.empty() ? "" : ",") + std::to_string(role);
  return text;
}

void PrintUsers(const std::vector<DirectoryUser>& users) {
  std::cout << "login\tgiven name\tsurname\tmail\tlanguage\tcountry\tpartner\tregistration set\t"
               "engineer code\troles\n";
  for (const auto& user : users) {
    std::cout << user.login << '\t' << user.given_name << '\t' << user.surname << '\t' << user.mail
              << '\t' << user.language_id << '\t' << user.country << '\t'
              << user.business_partner_id << '\t' << user.registration_set << '\t'
              << user.engineer_code << '\t' << Roles(user.roles) << '\n';
  }
  std::cout << users.size() << (users.size() == 1 ? " user" : " users") << std::endl;
}

void PrintPartners(const std::vector<DirectoryPartner>& partners) {
  std::cout << "number\tname\n";
  for (const auto& partner : partners) std::cout << partner.id << '\t' << partner.name << '\n';
  std::cout << partners.size() << (partners.size() == 1 ? " partner" : " partners") << std::endl;
}

// Turns off the terminal's echo for its lifetime.
class HiddenInput {
 public:
  HiddenInput() : active_(tcgetattr(STDIN_FILENO, &saved_) == 0) {
    if (!active_) return;
    termios quiet = saved_;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  ~HiddenInput() {
    if (active_) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
  }
  HiddenInput(const HiddenInput&) = delete;
  HiddenInput& operator=(const HiddenInput&) = delete;

 private:
  termios saved_{};
  bool active_;
};

std::string ReadLine(std::istream& in) {
  std::string line;
  std::getline(in, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// From the terminal: asked twice without echo. Otherwise the first line of stdin, so scripts can
// pipe it in; never from an argument, where other users' ps would show it.
std::string ReadNewPassword(const std::string& login) {
  if (!isatty(STDIN_FILENO)) return ReadLine(std::cin);
  HiddenInput hidden;
  std::cerr << "new password for " << login << ": " << std::flush;
  std::string first = ReadLine(std::cin);
  std::cerr << "\nagain: " << std::flush;
  std::string second = ReadLine(std::cin);
  std::cerr << std::endl;
  if (first != second) {
    throw ComError(err::kInvalidProcedureCall, "heliq directory", "the passwords differ");
  }
  return first;
}

constexpr std::string_view kCommand = "heliq directory";

// The roles the system asks the directory for.
constexpr int32_t kRoles[] = {kRoleDispatchers,        kRoleCallCentreEngineers,
                              kRoleSupervisors,        kRoleSupportCentreEngineers,
                              kRoleFurtherDispatchers, kRoleFurtherSupervisors};

std::string BindName() {
  return MembershipBindName(SettingValue("membership", "account"),
                            SettingValue("membership", "root"));
}

// What [directory] and [membership] say; never a password, only whether one is set.
void PrintConfigured() {
  const std::string password_state =
      SettingValue("membership", "password").empty() ? "not set" : "set";
  if (!DirectoryIsLdap()) {
    std::cout << "directory: embedded (tables DIR_USER, DIR_USER_ROLE and DIR_PARTNER in the "
                 "database of [connections] Directory, else the system database)\n"
              << "bind account: "
              << (BindName().empty() ? "(none: every bind is accepted)" : BindName())
              << "\npassword: " << password_state << std::endl;
    return;
  }
  const LdapSettings settings = LdapSettings::Read(kCommand);
  std::cout << "directory: ldap\nservers: " << settings.uri
            << "\nStartTLS: " << (settings.start_tls ? "required" : "off")
            << "\nCA file: " << (settings.ca_file.empty() ? "(the system's)" : settings.ca_file)
            << "\nbase DN: " << settings.base_dn << "\nuser filter: " << settings.user_filter
            << "\ngroup filter: " << settings.group_filter
            << "\nlogin attribute: " << settings.attributes.login << "\n";
  for (int32_t role : kRoles) {
    const std::string group = settings.RoleGroup(role);
    std::cout << "role " << role << " group: " << (group.empty() ? "(none)" : group) << "\n";
  }
  std::cout << "partners: " << settings.partner_base << " " << settings.partner_filter
            << "\nbind account: " << BindName() << "\npassword: " << password_state
            << "\ntimeout: " << settings.timeout_seconds << " s, page size " << settings.page_size
            << std::endl;
}

void PrintPerson(const MembershipUser& user) {
  std::string roles;
  for (int32_t role : kRoles) {
    if (user.IsInRole(role)) roles += (roles.empty() ? "" : ",") + std::to_string(role);
  }
  std::cout << "login: " << user.Login() << "\ngiven name: " << user.GivenName()
            << "\nsurname: " << user.Surname() << "\nmail: " << user.Mail()
            << "\nlanguage: " << user.LanguageId() << "\ncountry: " << user.Country()
            << "\nbusiness partner: " << user.BusinessPartnerId()
            << "\nregistration set: " << user.RegistrationSet()
            << "\nengineer code: " << user.EngineerCode() << "\nroles: " << roles << std::endl;
}

// Binds with the service account and counts the members of every role the system reads; on LDAP
// first says which server answered. Any failure propagates with its own message.
void TestConnection() {
  if (DirectoryIsLdap()) {
    const LdapSettings settings = LdapSettings::Read(kCommand);
    LdapConnection connection = LdapConnection::Open(settings, kCommand);
    if (!connection.Bind(BindName(), SettingValue("membership", "password"))) {
      throw ComError(err::kUnauthorized, std::string(kCommand),
                     "the directory refused to bind account '" + BindName() + "'");
    }
    std::cout << "server " << connection.ConnectedServer() << " answered"
              << (settings.start_tls ? " over StartTLS" : "") << "; bound as " << BindName()
              << std::endl;
  }
  auto members = BindDirectoryMembers();
  for (int32_t role : kRoles) {
    std::cout << "role " << role << " members: " << members->ListRoleMembers(role, "").row_count()
              << std::endl;
  }
}

// The embedded directory's own commands make no sense against a directory server.
void RequireEmbedded(const std::string& subcommand) {
  if (DirectoryIsLdap()) {
    throw ComError(err::kInvalidProcedureCall, std::string(kCommand),
                   "'" + subcommand +
                       "' works on the embedded directory only, but [directory] kind is \"ldap\": "
                       "manage people, roles and passwords in the directory server");
  }
}

}  // namespace

CommandRunner AddDirectoryCommand(CLI::App& app) {
  auto* command = app.add_subcommand(
      "directory",
      "show and test the configured directory (embedded or LDAP), look people up; look at and "
      "change the embedded directory: users, roles, business partners");
  command->require_subcommand(1);

  struct Args {
    DirectoryUser user;
    std::vector<int32_t> roles;
    int32_t role = 0;
    int32_t partner = 0;
    std::string partner_name;
  };
  auto args = std::make_shared<Args>();

  auto* show = command->add_subcommand(
      "show", "say which directory is configured and how (never a password)");
  auto* test = command->add_subcommand(
      "test", "bind with the [membership] account and count the members of each role");
  auto* lookup = command->add_subcommand("lookup", "look a person up: attributes and roles");
  lookup->add_option("login", args->user.login, "the person's login")->required();

  auto* users = command->add_subcommand("users", "list the users with their attributes and roles");

  auto* add_user = command->add_subcommand("add-user", "add a user");
  add_user->add_option("login", args->user.login, "the user's login")->required();
  add_user->add_option("--given-name", args->user.given_name, "given name");
  add_user->add_option("--surname", args->user.surname, "surname");
  add_user->add_option("--mail", args->user.mail, "mail address");
  add_user->add_option("--language", args->user.language_id, "locale number, e.g. 1033");
  add_user->add_option("--country", args->user.country, "country code, e.g. US");
  add_user->add_option("--bp", args->user.business_partner_id, "business-partner number");
  add_user->add_option("--registration-set", args->user.registration_set, "registration set");
  add_user->add_option("--engineer-code", args->user.engineer_code,
                       "the engineer's code in the back office");
  add_user->add_option("--role", args->roles,
                       "a role to give (repeatable): 32 call-centre engineer, 36 support-centre "
                       "engineer, 31/38 dispatcher, 35/39 supervisor");

  auto* add_role = command->add_subcommand("add-role", "give a user a role");
  add_role->add_option("login", args->user.login, "the user's login")->required();
  add_role->add_option("role", args->role, "role number")->required();

  auto* remove_role = command->add_subcommand("remove-role", "take a role from a user");
  remove_role->add_option("login", args->user.login, "the user's login")->required();
  remove_role->add_option("role", args->role, "role number")->required();

  auto* set_password = command->add_subcommand(
      "set-password",
      "set a user's sign-in password: typed twice without echo on a terminal, else read as the "
      "first line of stdin (never an argument)");
  set_password->add_option("login", args->user.login, "the user's login")->required();

  auto* partners = command->add_subcommand("partners", "list the business partners");

  auto* add_partner = command->add_subcommand("add-partner", "add a business partner");
  add_partner->add_option("number", args->partner, "business-partner number")->required();
  add_partner->add_option("name", args->partner_name, "the partner's name")->required();

  return [=] {
    if (!*command) return -1;
    if (*show) {
      PrintConfigured();
      return 0;
    }
    if (*test) {
      TestConnection();
      return 0;
    }
    if (*lookup) {
      PrintPerson(*BindDirectoryUser(args->user.login));
      return 0;
    }
    for (const CLI::App* subcommand : command->get_subcommands()) {
      RequireEmbedded(subcommand->get_name());
    }
    DirectoryStore store = DirectoryStore::FromSettings();
    if (*users) {
      PrintUsers(store.ListUsers());
    } else if (*add_user) {
      args->user.roles = args->roles;
      store.AddUser(args->user);
      std::cout << "added user " << args->user.login << std::endl;
    } else if (*add_role) {
      store.AddRole(args->user.login, args->role);
      std::cout << "user " << args->user.login << " holds role " << args->role << std::endl;
    } else if (*remove_role) {
      store.RemoveRole(args->user.login, args->role);
      std::cout << "took role " << args->role << " from user " << args->user.login << std::endl;
    } else if (*set_password) {
      store.SetPassword(args->user.login, ReadNewPassword(args->user.login));
      std::cout << "password of " << args->user.login << " set" << std::endl;
    } else if (*partners) {
      PrintPartners(store.ListPartners());
    } else if (*add_partner) {
      store.AddPartner(args->partner, args->partner_name);
      std::cout << "added business partner " << args->partner << std::endl;
    }
    return 0;
  };
}

}  // namespace heliq::tools
