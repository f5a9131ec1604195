#include "platform/registry_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <mutex>
#include <sstream>
#include <system_error>
#include <utility>

#include "platform/com_error.h"
#include "platform/component.h"
#include "platform/configuration.h"

namespace heliq {
namespace {

constexpr std::string_view kSource = "RegistryStore";
constexpr std::string_view kDefaultFile = "var/registry.txt";
constexpr std::string_view kHeader =
    "# Heliq registry store: [key path] lines, then name=value lines; in values \\\\, \\n, \\r "
    "and \\t are escaped.\n";
constexpr mode_t kDefaultMode = 0644;

// Serialises the writers of this process; the file lock serialises processes (flock locks belong
// to the open file description, so two threads of one process would not exclude each other).
std::mutex& WriterMutex() {
  static std::mutex mutex;
  return mutex;
}

ComError AccessError(int error, const std::filesystem::path& path) {
  return ComError(err::kPathFileAccess, std::string(kSource),
                  "Path/File access error (" +
                      std::error_code(error, std::generic_category()).message() +
                      "): " + path.string());
}

ComError BadArgument(std::string text) {
  return ComError(err::kInvalidProcedureCall, std::string(kSource), std::move(text));
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) {
      return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

// Splits "<key>\<name>" at the last "\" and checks that the file can hold both.
std::pair<std::string, std::string> SplitValuePath(std::string_view value_path) {
  const size_t last = value_path.rfind('\\');
  if (last == std::string_view::npos || last == 0 || last + 1 == value_path.size()) {
    throw BadArgument("the registry value path \"" + std::string(value_path) +
                      "\" does not name a key and a value");
  }
  std::string key(value_path.substr(0, last));
  std::string name(value_path.substr(last + 1));
  if (key.back() == '\\' || HasLineBreak(key)) {
    throw BadArgument("invalid registry key path \"" + key + "\"");
  }
  if (HasLineBreak(name) || name.find('=') != std::string::npos || name.front() == '#' ||
      name.front() == '[') {
    throw BadArgument("invalid registry value name \"" + name + "\"");
  }
  return {std::move(key), std::move(name)};
}

std::string Escape(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// Unknown escapes are kept as written, so a hand-edited Windows path survives.
std::string Unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    switch (text[i + 1]) {
      case '\\':
        out += '\\';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      default:
        out += text[i];
        continue;
    }
    ++i;
  }
  return out;
}

// The values of the file; none when it does not exist.
std::vector<RegistryValue> Load(const std::filesystem::path& file) {
  std::vector<RegistryValue> values;
  std::error_code error;
  const auto status = std::filesystem::status(file, error);
  if (status.type() == std::filesystem::file_type::not_found) return values;
  if (error) throw AccessError(error.value(), file);
  if (std::filesystem::is_directory(status)) throw AccessError(EISDIR, file);
  errno = 0;
  std::ifstream in(file, std::ios::binary);
  if (!in) throw AccessError(errno != 0 ? errno : EIO, file);
  std::string line;
  std::string key;
  bool in_key = false;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (number == 1 && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[' && line.back() == ']' && line.size() > 2) {
      key = line.substr(1, line.size() - 2);
      in_key = true;
      continue;
    }
    const size_t equals = line.find('=');
    if (!in_key || equals == std::string::npos || equals == 0) {
      throw ComError(
          err::kTypeMismatch, std::string(kSource),
          "the registry file " + file.string() + " is malformed at line " + std::to_string(number));
    }
    values.push_back({key, line.substr(0, equals), Unescape(line.substr(equals + 1))});
  }
  if (in.bad()) throw AccessError(EIO, file);
  return values;
}

std::string Render(const std::vector<RegistryValue>& values) {
  // Group by key in order of first appearance, values in their own order.
  std::vector<std::string> keys;
  for (const auto& v : values) {
    bool known = false;
    for (const auto& k : keys) known = known || SameIgnoringCase(k, v.key);
    if (!known) keys.push_back(v.key);
  }
  std::string text(kHeader);
  for (const auto& key : keys) {
    text += "[" + key + "]\n";
    for (const auto& v : values) {
      if (SameIgnoringCase(v.key, key)) text += v.name + "=" + Escape(v.value) + "\n";
    }
  }
  return text;
}

// A file descriptor closed on destruction.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  // Closes now and reports the failure a deferred close would hide.
  int Close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

// Holds the advisory lock of "<file>.lock" (and the process's writer lock) while it lives.
class WriterLock {
 public:
  explicit WriterLock(const std::filesystem::path& file)
      : process_lock_(WriterMutex()),
        fd_(::open((file.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kDefaultMode)) {
    if (fd_.get() < 0) throw AccessError(errno, file.string() + ".lock");
    while (::flock(fd_.get(), LOCK_EX) != 0) {
      if (errno != EINTR) throw AccessError(errno, file.string() + ".lock");
    }
  }

 private:
  std::lock_guard<std::mutex> process_lock_;
  FileDescriptor fd_;  // closing it releases the lock
};

// Writes `text` to a temporary file beside `file` and renames it over `file`. On failure the
// temporary file is removed and `file` is as it was.
void ReplaceAtomically(const std::filesystem::path& file, const std::string& text) {
  std::string temp_name = file.string() + ".XXXXXX";
  FileDescriptor fd(::mkstemp(temp_name.data()));
  if (fd.get() < 0) throw AccessError(errno, file);
  struct TempGuard {
    std::string path;
    bool keep = false;
    ~TempGuard() {
      if (!keep) ::unlink(path.c_str());
    }
  } guard{temp_name};

  struct stat old_state {};
  const mode_t mode =
      ::stat(file.c_str(), &old_state) == 0 ? (old_state.st_mode & 07777) : kDefaultMode;
  if (::fchmod(fd.get(), mode) != 0) throw AccessError(errno, file);
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd.get(), text.data() + written, text.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw AccessError(errno, file);
    }
    written += static_cast<size_t>(n);
  }
  if (::fsync(fd.get()) != 0) throw AccessError(errno, file);
  if (fd.Close() != 0) throw AccessError(errno, file);
  if (::rename(temp_name.c_str(), file.c_str()) != 0) throw AccessError(errno, file);
  guard.keep = true;
  // Make the rename itself durable; a folder that cannot be synced is no failure of the write.
  FileDescriptor folder(::open(file.parent_path().empty() ? "." : file.parent_path().c_str(),
                               O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.get() >= 0) ::fsync(folder.get());
}

}  // namespace

RegistryStore::RegistryStore(std::filesystem::path file) : file_(std::move(file)) {}

RegistryStore RegistryStore::FromSettings() {
  std::filesystem::path file = SettingValue("registry", "file");
  if (file.empty()) file = kDefaultFile;
  if (file.is_relative()) {
    auto configuration = ComponentAs<Configuration>(
        ComponentRegistry::Global().Create(kConfigurationClassId), kConfigurationClassId);
    file = std::filesystem::path(configuration->GetInstallDir()) / file;
  }
  return RegistryStore(file.lexically_normal());
}

void RegistryStore::Write(std::string_view value_path, std::string_view value,
                          std::string_view type) {
  WriteAll({{std::string(value_path), std::string(value)}}, type);
}

void RegistryStore::WriteAll(const std::vector<std::pair<std::string, std::string>>& values,
                             std::string_view type) {
  if (type != kRegistryText) {
    throw BadArgument("the registry store holds text values (" + std::string(kRegistryText) +
                      ") only, not " + std::string(type));
  }
  std::vector<RegistryValue> changes;
  for (const auto& [value_path, value] : values) {
    auto [key, name] = SplitValuePath(value_path);
    changes.push_back({std::move(key), std::move(name), value});
  }
  if (!file_.parent_path().empty()) {
    std::error_code error;
    std::filesystem::create_directories(file_.parent_path(), error);
    if (error) throw AccessError(error.value(), file_.parent_path());
  }
  WriterLock lock(file_);
  std::vector<RegistryValue> stored = Load(file_);
  for (auto& change : changes) {
    bool replaced = false;
    for (auto& v : stored) {
      if (SameIgnoringCase(v.key, change.key) && SameIgnoringCase(v.name, change.name)) {
        v.value = change.value;
        replaced = true;
      }
    }
    if (!replaced) stored.push_back(std::move(change));
  }
  ReplaceAtomically(file_, Render(stored));
}

std::optional<std::string> RegistryStore::Read(std::string_view value_path) const {
  auto [key, name] = SplitValuePath(value_path);
  std::optional<std::string> found;
  for (auto& v : Load(file_)) {
    if (SameIgnoringCase(v.key, key) && SameIgnoringCase(v.name, name)) found = std::move(v.value);
  }
  return found;
}

std::vector<RegistryValue> RegistryStore::List() const { return Load(file_); }

}  // namespace heliq
