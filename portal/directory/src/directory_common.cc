#include "portal/directory/directory_common.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "platform/com_error.h"
#include "platform/text.h"

namespace heliq {
namespace {

const DirectoryAttribute kAttributes[] = {
    {"cn", &DirectoryUser::login},
    {"givenname", &DirectoryUser::given_name},
    {"sn", &DirectoryUser::surname},
    {"mail", &DirectoryUser::mail},
    {"languageid", &DirectoryUser::language_id},
    {"c", &DirectoryUser::country},
    {"BusinessPartnerID", &DirectoryUser::business_partner_id},
    {"registrationset", &DirectoryUser::registration_set},
    {"EmployeeNumber", &DirectoryUser::engineer_code},
};

// Every member table starts with these columns, in this order.
constexpr std::string_view kFixedColumns[] = {"dn", "mail", "cn"};

}  // namespace

std::span<const DirectoryAttribute> DirectoryAttributes() { return kAttributes; }

void DirectoryBadInput(std::string_view class_id, std::string description) {
  throw ComError(err::kInvalidProcedureCall, std::string(class_id), std::move(description));
}

const DirectoryAttribute& FindDirectoryAttribute(std::string_view class_id, std::string_view name) {
  for (const auto& attribute : kAttributes) {
    if (EqualsIgnoreCase(attribute.name, name)) return attribute;
  }
  DirectoryBadInput(class_id, "the directory has no attribute '" + std::string(name) + "'");
}

std::vector<const DirectoryAttribute*> MemberColumns(std::string_view class_id,
                                                     std::string_view attributes) {
  std::vector<const DirectoryAttribute*> extra;
  size_t start = 0;
  while (start <= attributes.size()) {
    size_t comma = attributes.find(',', start);
    if (comma == std::string_view::npos) comma = attributes.size();
    const std::string_view name = TrimSpace(attributes.substr(start, comma - start));
    start = comma + 1;
    if (name.empty()) continue;
    const DirectoryAttribute* attribute = &FindDirectoryAttribute(class_id, name);
    const bool fixed = std::any_of(std::begin(kFixedColumns), std::end(kFixedColumns),
                                   [&](std::string_view c) { return c == attribute->name; });
    if (!fixed && std::find(extra.begin(), extra.end(), attribute) == extra.end()) {
      extra.push_back(attribute);
    }
  }
  return extra;
}

MemberTable BuildMemberTable(const std::vector<const DirectoryAttribute*>& extra,
                             const std::vector<DirectoryUser>& users,
                             const std::vector<std::string>& dns) {
  std::vector<std::string> columns(std::begin(kFixedColumns), std::end(kFixedColumns));
  for (const DirectoryAttribute* attribute : extra) columns.emplace_back(attribute->name);
  std::vector<std::vector<std::string>> rows;
  rows.reserve(users.size());
  for (size_t i = 0; i < users.size(); ++i) {
    const DirectoryUser& user = users[i];
    std::vector<std::string> row = {dns[i], user.mail, user.login};
    for (const DirectoryAttribute* attribute : extra) row.push_back(user.*(attribute->field));
    rows.push_back(std::move(row));
  }
  return MemberTable(std::move(columns), std::move(rows));
}

std::vector<MemberFilter> ParseMemberFilters(std::string_view class_id,
                                             const std::vector<std::string>& filters) {
  std::vector<MemberFilter> parsed;
  for (const auto& text : filters) {
    std::string_view filter = TrimSpace(text);
    if (filter.size() >= 2 && filter.front() == '(' && filter.back() == ')') {
      filter = TrimSpace(filter.substr(1, filter.size() - 2));
    }
    const size_t equals = filter.find('=');
    if (equals == std::string_view::npos) {
      DirectoryBadInput(class_id,
                        "member search filter '" + text + "' is not of the form attribute=value");
    }
    parsed.push_back({&FindDirectoryAttribute(class_id, TrimSpace(filter.substr(0, equals))),
                      std::string(TrimSpace(filter.substr(equals + 1)))});
  }
  return parsed;
}

void StoreServerInfo(std::string_view class_id, const std::string& path, std::string& target) {
  if (TrimSpace(path).empty()) DirectoryBadInput(class_id, "the site configuration path is empty");
  target = path;
}

void RequireServerInfo(std::string_view class_id, const std::string& server_info) {
  if (server_info.empty()) {
    DirectoryBadInput(class_id, "no site configuration is set: SetServerInfo must precede BindAs");
  }
}

}  // namespace heliq
