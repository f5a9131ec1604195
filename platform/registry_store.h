// The registry store: the platform's registry of text values, kept in one file.
//
// A value is addressed by its value path, a key path and a value name joined by "\" (the last "\"
// separates them): "HKLM\SOFTWARE\...\Parameters\Archive_Run". Only text values (type "REG_SZ")
// are held. Key paths and value names compare without regard to ASCII case, as a registry's do;
// the spelling of the first write is kept.
//
// The file is the contract with the scheduling service, which reads it:
//   # comment lines start with "#"
//   [<key path>]
//   <value name>=<value>
// Keys appear in the order they were first written, values in the order they were first written
// under their key. In a value, "\" is written "\\", a line feed "\n", a carriage return "\r" and a
// tab "\t"; nothing else is escaped. The file is UTF-8.
//
// Every write replaces the whole file atomically (a temporary file in the same folder, flushed,
// then renamed over the old one), so a reader sees either the old or the new contents, never a
// torn file. Writers in one process are serialised by a lock, writers in different processes by an
// advisory lock on "<file>.lock"; each write is a read-modify-write of the current file, so
// concurrent writers of different values lose nothing.
//
// Failures are ComErrors: err::kInvalidProcedureCall for a malformed value path, a name or key the
// file cannot hold, or a type other than "REG_SZ"; err::kPathFileAccess when the file or its folder
// cannot be read or written (the file is then left as it was); err::kTypeMismatch for a file that
// is not in the format above.
//
// Thread safety: any number of RegistryStore objects may read and write concurrently.
#ifndef HELIQ_PLATFORM_REGISTRY_STORE_H_
#define HELIQ_PLATFORM_REGISTRY_STORE_H_

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace heliq {

// The only value type the store holds.
inline constexpr std::string_view kRegistryText = "REG_SZ";

struct RegistryValue {
  std::string key;    // key path, without a trailing "\"
  std::string name;   // value name
  std::string value;  // text
};

class RegistryStore {
 public:
  // The store at `file` (created on first write, with its folder).
  explicit RegistryStore(std::filesystem::path file);
  // The store the configuration names: [registry] file, "var/registry.txt" when not set; a relative
  // path is taken relative to the installation directory.
  static RegistryStore FromSettings();

  const std::filesystem::path& file() const { return file_; }

  // Writes the text `value` at `value_path` (replacing a value there), as a registry write with
  // `type` would. The value path must name a key and a value: "<key path>\<name>", both non-empty.
  void Write(std::string_view value_path, std::string_view value,
             std::string_view type = kRegistryText);
  // Writes every (value path, text) pair of `values` in one replacement of the file: a reader sees
  // all of them or none, and on any failure (a bad path among them included) the file is as it
  // was. Values new to the file are added in the order given; a path given twice keeps the last.
  void WriteAll(const std::vector<std::pair<std::string, std::string>>& values,
                std::string_view type = kRegistryText);
  // The text at `value_path`, nullopt when there is none (or no file yet).
  std::optional<std::string> Read(std::string_view value_path) const;
  // Every value, in file order. An absent file holds none.
  std::vector<RegistryValue> List() const;

 private:
  std::filesystem::path file_;
};

}  // namespace heliq

#endif  // HELIQ_PLATFORM_REGISTRY_STORE_H_
