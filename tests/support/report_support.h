// Test support for the report component and the report wizard: an independent reader of
// spreadsheet files (Debian's python3-xlrd under /usr/bin/python3, which reads the binary ".xls"
// format), so tests check what a spreadsheet program would see rather than what the writer meant
// to write; the database details of the test database as the wizard's first page takes them; and
// the mails of the pickup folder.
#ifndef HELIQ_TESTS_SUPPORT_REPORT_SUPPORT_H_
#define HELIQ_TESTS_SUPPORT_REPORT_SUPPORT_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace heliq::testing {

// One sheet as read back: its name and its non-blank cells by (row, column). Numbers read as
// their shortest text ("5", "2.5"), Booleans as "TRUE"/"FALSE", text as it is.
struct ReadSheet {
  std::string name;
  std::map<std::pair<int, int>, std::string> cells;
  int rows = 0;
  std::string Cell(int row, int column) const {
    auto it = cells.find({row, column});
    return it == cells.end() ? std::string() : it->second;
  }
};

// The sheets of the workbook at `path`; a reader failure fails the test (and returns nothing).
inline std::vector<ReadSheet> ReadWorkbook(const std::filesystem::path& path) {
  static constexpr char kScript[] = R"(
import sys, xlrd
book = xlrd.open_workbook(sys.argv[1])
for sheet in book.sheets():
    print("S\t%d\t%s" % (sheet.nrows, sheet.name))
    for r in range(sheet.nrows):
        for c in range(sheet.ncols):
            cell = sheet.cell(r, c)
            if cell.ctype == xlrd.XL_CELL_EMPTY:
                continue
            if cell.ctype == xlrd.XL_CELL_NUMBER:
                v = cell.value
                text = str(int(v)) if v == int(v) else repr(v)
            elif cell.ctype == xlrd.XL_CELL_BOOLEAN:
                text = "TRUE" if cell.value else "FALSE"
            else:
                text = cell.value
            print("C\t%d\t%d\t%s" % (r, c, text.replace("\\", "\\\\").replace("\n", "\\n")))
)";
  const std::filesystem::path script = path.string() + ".read.py";
  std::ofstream(script) << kScript;
  const std::string command = "PYTHONIOENCODING=utf-8 /usr/bin/python3 '" + script.string() +
                              "' '" + path.string() + "' 2>&1";
  std::string output;
  {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::array<char, 4096> buffer{};
    size_t n = 0;
    while (pipe && (n = fread(buffer.data(), 1, buffer.size(), pipe.get())) > 0) {
      output.append(buffer.data(), n);
    }
    const int status = pipe ? pclose(pipe.release()) : -1;
    std::filesystem::remove(script);
    if (status != 0) {
      ADD_FAILURE() << "the reader (python3-xlrd) refused " << path << ":\n" << output;
      return {};
    }
  }
  std::vector<ReadSheet> sheets;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string kind;
    std::getline(fields, kind, '\t');
    if (kind == "S") {
      std::string rows;
      std::getline(fields, rows, '\t');
      sheets.push_back({});
      sheets.back().rows = std::stoi(rows);
      std::getline(fields, sheets.back().name);
    } else if (kind == "C" && !sheets.empty()) {
      std::string row, column, raw;
      std::getline(fields, row, '\t');
      std::getline(fields, column, '\t');
      std::getline(fields, raw);
      std::string text;
      for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\\' && i + 1 < raw.size()) {
          text += raw[++i] == 'n' ? '\n' : raw[i];
        } else {
          text += raw[i];
        }
      }
      sheets.back().cells[{std::stoi(row), std::stoi(column)}] = text;
    }
  }
  return sheets;
}

// Server, database, login and password that name the test database (`connection_string` as the
// fixture gives it): "sqlite" and the file, or the PostgreSQL host:port, database and user.
struct DatabaseFields {
  std::string server;
  std::string database;
  std::string login;
  std::string password;
};

inline DatabaseFields FieldsFor(const std::string& connection_string) {
  constexpr std::string_view kSqlite = "sqlite:";
  if (connection_string.starts_with(kSqlite)) {
    return {"sqlite", connection_string.substr(kSqlite.size()), "", ""};
  }
  std::map<std::string, std::string> keywords;
  std::istringstream words(connection_string.substr(connection_string.find(':') + 1));
  std::string word;
  while (words >> word) {
    const size_t equals = word.find('=');
    if (equals != std::string::npos) keywords[word.substr(0, equals)] = word.substr(equals + 1);
  }
  std::string server = keywords["host"];
  if (!keywords["port"].empty()) server += ":" + keywords["port"];
  return {server, keywords["dbname"], keywords["user"], keywords["password"]};
}

// The text of every .eml file below `folder`, oldest name first.
inline std::vector<std::string> MailsBelow(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> paths;
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (it->path().extension() == ".eml") paths.push_back(it->path());
  }
  std::sort(paths.begin(), paths.end());
  std::vector<std::string> mails;
  for (const auto& path : paths) {
    std::ifstream in(path, std::ios::binary);
    mails.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return mails;
}

// The bytes of base64 `text`; characters outside the alphabet (line breaks) are skipped.
inline std::string DecodeBase64(std::string_view text) {
  constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    const size_t value = kAlphabet.find(c);
    if (value == std::string_view::npos) continue;
    bits = (bits << 6) | static_cast<uint32_t>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

}  // namespace heliq::testing

#endif  // HELIQ_TESTS_SUPPORT_REPORT_SUPPORT_H_
