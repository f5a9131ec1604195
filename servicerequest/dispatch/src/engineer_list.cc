// The engineer-list file of manual dispatching and the directory lookups of dispatching.
#include <filesystem>
#include <unordered_map>

#include "common/file_handling.h"
#include "common/files_and_texts.h"
#include "common/heliq_utilities.h"
#include "common/lookups.h"
#include "common/operation_frame.h"
#include "platform/object_context.h"
#include "servicerequest/dispatch/dispatch.h"
#include "servicerequest/dispatch/src/truth_value.h"

namespace heliq {
namespace {

constexpr std::string_view kMakeXmlSource = "HlqServiceRequestMTS.Dispatch.makeXMLforEngineers";
constexpr std::string_view kXmlPathSource = "HlqServiceRequestMTS.Dispatch.getXMLPath";
constexpr std::string_view kUserObjectSource = "HlqServiceRequestMTS.Dispatch.getUserObject";
constexpr std::string_view kMembersObjectSource = "HlqServiceRequestMTS.Dispatch.getMembersObject";

// A Login attribute that keeps the document well-formed whatever the login holds.
std::string LoginAttribute(std::string_view login) {
  return EncodeApostrophe(XMLEncode(Variant(login))).ToText();
}

std::string FoldCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// What the engineer list shows of one engineer.
struct EngineerAttributes {
  std::string given_name, surname, mail, language_id, country;

  static EngineerAttributes FromMembers(const MemberTable& members, size_t row) {
    return {members.Value(row, "givenname"), members.Value(row, "sn"), members.Value(row, "mail"),
            members.Value(row, "languageid"), members.Value(row, "c")};
  }
  static EngineerAttributes FromUser(const MembershipUser& user) {
    return {user.GivenName(), user.Surname(), user.Mail(), user.LanguageId(), user.Country()};
  }
};

bool ReadsAsTrue(const std::string& text) {
  return internal::ParseTruthValue(text).value_or(false);
}

}  // namespace

std::string Dispatch::getXMLPath() {
  return RunOperation(kXmlPathSource, [&] {
    return GetInstallDir() + "/" + TrimPathSeparator(GetParamValue("DataFileRelativePath")) +
           "/DispatchFiles/";
  });
}

std::unique_ptr<MembershipUser> Dispatch::getUserObject(std::string_view login) {
  return RunOperation(kUserObjectSource, [&] { return BindDirectoryUser(login); });
}

std::unique_ptr<MembershipMembers> Dispatch::getMembersObject() {
  return RunOperation(kMembersObjectSource, [&] { return BindDirectoryMembers(); });
}

bool Dispatch::isValidEngineer(std::string_view login, int32_t role) {
  // A failed lookup means "not valid"; the savepoint confines whatever the lookup did in the call's
  // transaction (it only reads, so it is left by rolling back).
  try {
    Savepoint part;
    if (!CreateObjectAs<PortalUser>(kPortalUserClassId)->UserExists(login)) return false;
    return getUserObject(login)->IsInRole(role);
  } catch (...) {
    return false;
  }
}

RankedEngineers Dispatch::BuildEngineerList(int32_t role, int32_t login_locale) {
  RankedEngineers list;
  list.rules_applied = ReadsAsTrue(m_sManualDispatching);
  auto languages = CreateObjectAs<LanguageList>(kLanguageListClassId);
  // One directory query for the whole role instead of one bind per engineer; a login the role
  // does not list is bound on its own, which fails the list when the directory lacks it.
  const MemberTable& members = RoleMembers(role);
  std::unordered_map<std::string, size_t> member_rows;
  for (int32_t row = 0; row < members.row_count(); ++row) {
    member_rows.emplace(FoldCase(members.Value(static_cast<size_t>(row), "cn")),
                        static_cast<size_t>(row));
  }
  for (size_t i = 0; i < m_vEngineers.size() && !m_vEngineers[i].empty(); ++i) {
    const std::string& login = m_vEngineers[i];
    EngineerAttributes engineer;
    if (auto it = member_rows.find(FoldCase(login)); it != member_rows.end()) {
      engineer = EngineerAttributes::FromMembers(members, it->second);
    } else {
      engineer = EngineerAttributes::FromUser(*getUserObject(login));
    }
    const Variant language_id(engineer.language_id);
    list.engineers.push_back(
        {login, list.rules_applied ? static_cast<int32_t>(i + 1) : 0,
         GetExactFirstName(engineer.given_name, engineer.surname, login_locale),
         GetExactLastName(engineer.given_name, engineer.surname, login_locale), engineer.given_name,
         engineer.surname, engineer.mail,
         languages->GetLanguageName(language_id.IsBlank() ? 0 : language_id.ToLong()),
         engineer.country});
  }
  return list;
}

void Dispatch::makeXMLforEngineers(int32_t question_id, int32_t role, int32_t login_locale) {
  RunOperation(kMakeXmlSource, [&] {
    RankedEngineers list = BuildEngineerList(role, login_locale);
    if (listing_ != nullptr) {
      *listing_ = std::move(list);
      return;
    }
    const std::string folder = getXMLPath();
    const std::string path =
        folder + (role == kCallCentreRole ? "CC_" : "SC_") + std::to_string(question_id) + ".xml";
    std::string document = list.rules_applied ? "<SupportEngineers Rulesapplied = 'True' >"
                                              : "<SupportEngineers Rulesapplied = 'False' >";
    for (const RankedEngineer& engineer : list.engineers) {
      document += "<SupportEngineer Login = '" + LoginAttribute(engineer.login) + "' >";
      document += list.rules_applied
                      ? "<Sequence>" + std::to_string(engineer.sequence) + "</Sequence>"
                      : std::string("<Sequence/>");
      document += "<FirstNameDisplay>" + XMLEncodeText(engineer.first_name_display) +
                  "</FirstNameDisplay><LastNameDisplay>" +
                  XMLEncodeText(engineer.last_name_display) + "</LastNameDisplay>";
      document += "<FirstName>" + XMLEncodeText(engineer.first_name) + "</FirstName><LastName>" +
                  XMLEncodeText(engineer.last_name) + "</LastName><EmailID>" +
                  XMLEncodeText(engineer.mail) + "</EmailID><Language>" +
                  XMLEncodeText(engineer.language) + "</Language><Country>" +
                  XMLEncodeText(engineer.country) + "</Country></SupportEngineer>";
    }
    document += "</SupportEngineers>";
    std::filesystem::create_directories(folder);
    CreateFile(path, document);
    CreateObjectAs<FileHandling>(kFileHandlingClassId)
        ->TransferFile(path, question_id, kFilesEngineerList, 0);
  });
}

}  // namespace heliq
