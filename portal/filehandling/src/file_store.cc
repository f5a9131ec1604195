#include "portal/filehandling/file_store.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <sstream>
#include <string_view>
#include <system_error>

#include "common/file_handling.h"
#include "common/heliq_utilities.h"
#include "platform/clock.h"
#include "platform/com_error.h"
#include "platform/configuration.h"
#include "platform/log.h"

namespace heliq {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kSource = "HlqCommonMTS.FileHandling";
constexpr std::string_view kDefaultStoreDir = "var/files";
constexpr std::string_view kIncomingFolder = "incoming";
constexpr std::string_view kTransactionLog = "transactions.log";
constexpr std::string_view kPublishList = "publish.lst";
constexpr std::string_view kFaqFolder = "faq";

// Appends to transaction logs are serialised within the process so that lines never interleave.
std::mutex log_mutex;
std::atomic<uint64_t> temp_counter{0};

[[noreturn]] void StoreFailure(const std::string& what, const std::error_code& error = {}) {
  throw ComError(err::kFileServer, std::string(kSource),
                 error ? what + ": " + error.message() : what);
}

[[noreturn]] void InvalidArgument(const std::string& what) {
  throw ComError(err::kInvalidProcedureCall, std::string(kSource), what);
}

// Runs one operation of the store: a failure the file system raises while iterating reaches the
// caller as the store's failure, like every other.
template <typename F>
auto Guarded(F&& body) -> decltype(body()) {
  try {
    return body();
  } catch (const fs::filesystem_error& e) {
    StoreFailure(e.what());
  }
}

int32_t ParseNumber(const std::string& text) {
  try {
    return std::stoi(text);
  } catch (const std::exception&) {
    return 0;
  }
}

void CheckQuestionId(int32_t question_id) {
  if (question_id < 0) InvalidArgument("invalid request number " + std::to_string(question_id));
}

// A plain file name: not empty, no folder part, not "." or "..".
void CheckFileName(const std::string& name) {
  if (name.empty() || name == "." || name == ".." ||
      name.find_first_of(std::string_view("/\\\0", 3)) != std::string::npos) {
    InvalidArgument("invalid file name \"" + name + "\"");
  }
}

// The store never follows a symbolic link: one could lead out of the store (a link to a folder
// elsewhere, or a file link copied as the file it points to). Only real files and folders count.
bool IsPlainFile(const fs::directory_entry& entry) {
  std::error_code error;
  return entry.symlink_status(error).type() == fs::file_type::regular;
}
bool IsPlainFolder(const fs::directory_entry& entry) {
  std::error_code error;
  return entry.symlink_status(error).type() == fs::file_type::directory;
}

// A name the store takes in: no control character, since a line break would split the lines of
// publish.lst and break publishing for good.
bool IsStorableName(const std::string& name) {
  return std::none_of(name.begin(), name.end(),
                      [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

// "T<digits>" (an action folder of a request).
bool IsActionFolderName(const std::string& name) {
  return name.size() >= 2 && name[0] == 'T' &&
         std::all_of(name.begin() + 1, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A publish.lst entry must name a file of an action folder, "T<T_ID>/<name>": no absolute path,
// no "..", nothing that leads out of the request's folder.
bool IsActionFilePath(const fs::path& path) {
  if (path.is_absolute() || std::distance(path.begin(), path.end()) != 2) return false;
  const std::string name = path.filename().string();
  return IsActionFolderName(path.begin()->string()) && !name.empty() && name != "." &&
         name != ".." && name.find('\\') == std::string::npos && IsStorableName(name);
}

fs::path KindFolder(int32_t question_id, int32_t kind) {
  return RequestFolder(question_id) / ("kind-" + std::to_string(kind));
}

void CreateFolder(const fs::path& folder) {
  std::error_code error;
  fs::create_directories(folder, error);
  if (error || !fs::is_directory(folder)) {
    StoreFailure("cannot create folder " + folder.string(), error);
  }
}

// Copies `source` to `target` through a temporary file in the target's folder, so that a reader
// never sees a half-written file and a failed copy leaves the old file in place.
void CopyIntoPlace(const fs::path& source, const fs::path& target) {
  CreateFolder(target.parent_path());
  const fs::path temp =
      target.parent_path() / ("." + target.filename().string() + "." + std::to_string(getpid()) +
                              "." + std::to_string(temp_counter++) + ".tmp");
  std::error_code error;
  fs::copy_file(source, temp, fs::copy_options::overwrite_existing, error);
  if (!error) fs::rename(temp, target, error);
  if (error) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    StoreFailure("cannot store " + source.string() + " as " + target.string(), error);
  }
}

// Writes `text` as the whole content of `target`, replacing it atomically.
void WriteIntoPlace(const fs::path& target, const std::string& text) {
  CreateFolder(target.parent_path());
  const fs::path temp =
      target.parent_path() / ("." + target.filename().string() + "." + std::to_string(getpid()) +
                              "." + std::to_string(temp_counter++) + ".tmp");
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
      std::error_code ignored;
      fs::remove(temp, ignored);
      StoreFailure("cannot write " + target.string());
    }
  }
  std::error_code error;
  fs::rename(temp, target, error);
  if (error) {
    fs::remove(temp, error);
    StoreFailure("cannot write " + target.string(), error);
  }
}

// The files of the request's action folders (T<T_ID>), relative to the request folder, sorted.
std::vector<fs::path> ActionFiles(const fs::path& request_folder) {
  std::vector<fs::path> files;
  std::error_code error;
  if (!fs::is_directory(request_folder, error)) return files;
  for (const auto& folder : fs::directory_iterator(request_folder, error)) {
    const std::string name = folder.path().filename().string();
    if (!IsPlainFolder(folder) || !IsActionFolderName(name)) continue;
    for (const auto& file : fs::directory_iterator(folder.path(), error)) {
      if (IsPlainFile(file) && IsStorableName(file.path().filename().string())) {
        files.push_back(fs::path(name) / file.path().filename());
      }
    }
    if (error) StoreFailure("cannot list " + folder.path().string(), error);
  }
  if (error) StoreFailure("cannot list " + request_folder.string(), error);
  std::sort(files.begin(), files.end());
  return files;
}

// Option values go into one tab-separated log line.
std::string LogValue(const Variant& value) {
  std::string text = value.IsEmpty() ? std::string() : value.ToTextOrEmpty();
  std::replace_if(
      text.begin(), text.end(), [](char c) { return c == '\t' || c == '\r' || c == '\n'; }, ' ');
  return text;
}

class LocalFileHandling : public FileHandling {
 public:
  void HandleTransactionFiles(int32_t question_id, int32_t kind, int32_t transaction_id,
                              const Variant& option4, const Variant& option5) override {
    Guarded([&] {
      CheckQuestionId(question_id);
      const fs::path folder = RequestFolder(question_id);
      CreateFolder(folder);
      const int32_t moved = MoveIncoming(folder, transaction_id);
      std::ostringstream line;
      line << Now().ToText() << "\tkind=" << kind << "\tT_ID=" << transaction_id
           << "\toption4=" << LogValue(option4) << "\toption5=" << LogValue(option5)
           << "\tfiles=" << moved << "\n";
      const fs::path log = folder / kTransactionLog;
      std::lock_guard lock(log_mutex);
      std::ofstream out(log, std::ios::binary | std::ios::app);
      out << line.str();
      out.close();
      if (!out) StoreFailure("cannot append to " + log.string());
    });
  }

  void MarkFilesForPublishing(int32_t question_id) override {
    Guarded([&] {
      CheckQuestionId(question_id);
      const fs::path folder = RequestFolder(question_id);
      std::string list;
      for (const auto& file : ActionFiles(folder)) list += file.generic_string() + "\n";
      WriteIntoPlace(folder / kPublishList, list);
    });
  }

  void PublishFiles(int32_t question_id, int32_t faq_number) override {
    Guarded([&] {
      CheckQuestionId(question_id);
      const fs::path folder = RequestFolder(question_id);
      std::vector<fs::path> files;
      const fs::path marked = folder / kPublishList;
      if (fs::exists(marked)) {
        std::ifstream in(marked, std::ios::binary);
        for (std::string line; std::getline(in, line);) {
          if (!line.empty()) files.emplace_back(line);
        }
        if (in.bad()) StoreFailure("cannot read " + marked.string());
      } else {
        files = ActionFiles(folder);
      }
      const fs::path target = FileStoreRoot() / kFaqFolder / std::to_string(faq_number);
      CreateFolder(target);
      for (const auto& file : files) {
        if (!IsActionFilePath(file)) {
          StoreFailure("the publish list of request " + std::to_string(question_id) + " names \"" +
                       file.generic_string() + "\", not a file of an action");
        }
        std::error_code ignored;
        if (fs::symlink_status(folder / file.parent_path(), ignored).type() !=
                fs::file_type::directory ||
            fs::symlink_status(folder / file, ignored).type() != fs::file_type::regular) {
          StoreFailure("file " + file.generic_string() + " marked for publishing is gone");
        }
        CopyIntoPlace(folder / file, target / file);
      }
    });
  }

  void TransferFile(const std::string& local_path, int32_t question_id, int32_t kind,
                    int32_t flags) override {
    Guarded([&] {
      CheckQuestionId(question_id);
      const fs::path source(local_path);
      std::error_code error;
      if (local_path.empty() || !fs::is_regular_file(source, error)) {
        StoreFailure("cannot read file \"" + local_path + "\"", error);
      }
      CopyIntoPlace(source, KindFolder(question_id, kind) / source.filename());
    });
  }

  bool FileAlreadyAttached(const std::string& file_name, int32_t question_id,
                           const std::vector<int32_t>& kinds) override {
    return Guarded([&] {
      CheckFileName(file_name);
      CheckQuestionId(question_id);
      return std::any_of(kinds.begin(), kinds.end(), [&](int32_t kind) {
        std::error_code ignored;
        return fs::is_regular_file(KindFolder(question_id, kind) / file_name, ignored);
      });
    });
  }

  void DeleteRemoteFile(const std::string& file_name, int32_t question_id) override {
    Guarded([&] {
      CheckFileName(file_name);
      CheckQuestionId(question_id);
      const fs::path folder = RequestFolder(question_id);
      std::error_code error;
      if (!fs::is_directory(folder, error)) return;
      for (const auto& entry : fs::directory_iterator(folder, error)) {
        if (!entry.is_directory() || !entry.path().filename().string().starts_with("kind-")) {
          continue;
        }
        std::error_code removed;
        fs::remove(entry.path() / file_name, removed);
        if (removed) StoreFailure("cannot delete " + (entry.path() / file_name).string(), removed);
      }
      if (error) StoreFailure("cannot list " + folder.string(), error);
    });
  }

  void PutRemoteFile(const std::string& local_path, int32_t question_id) override {
    TransferFile(local_path, question_id, kFilesReport, 0);
  }

 private:
  // Moves the request's incoming files into the action's folder; returns how many it moved.
  // A file another call moved first is skipped. Links and names the store cannot list (a line
  // break in the name) are not taken in: they stay in incoming/.
  static int32_t MoveIncoming(const fs::path& folder, int32_t transaction_id) {
    const fs::path incoming = folder / kIncomingFolder;
    std::error_code error;
    if (!fs::is_directory(incoming, error)) return 0;
    const fs::path target = folder / ("T" + std::to_string(transaction_id));
    int32_t moved = 0;
    for (const auto& entry : fs::directory_iterator(incoming, error)) {
      if (!IsPlainFile(entry) || !IsStorableName(entry.path().filename().string())) continue;
      if (moved == 0) CreateFolder(target);
      std::error_code renamed;
      fs::rename(entry.path(), target / entry.path().filename(), renamed);
      if (renamed == std::errc::no_such_file_or_directory) continue;
      if (renamed) StoreFailure("cannot move " + entry.path().string(), renamed);
      ++moved;
    }
    if (error) StoreFailure("cannot list " + incoming.string(), error);
    return moved;
  }
};

}  // namespace

void RegisterFileHandlingComponent() {
  ComponentRegistry::Global().Register(kFileHandlingClassId,
                                       [] { return std::make_unique<LocalFileHandling>(); });
}

std::string StoreIncomingFile(int32_t question_id, const std::string& name,
                              std::string_view content) {
  CheckQuestionId(question_id);
  CheckFileName(name);
  if (name.size() > kMaxAttachmentName || name.starts_with(".") || !IsStorableName(name)) {
    InvalidArgument("invalid file name " + QuoteCallerText(name) + ": at most " +
                    std::to_string(kMaxAttachmentName) +
                    " bytes, no leading \".\", no control character");
  }
  return Guarded([&] {
    const fs::path folder = RequestFolder(question_id);
    const fs::path incoming = folder / kIncomingFolder;
    CreateFolder(incoming);
    std::error_code error;
    if (fs::symlink_status(folder, error).type() != fs::file_type::directory ||
        fs::symlink_status(incoming, error).type() != fs::file_type::directory) {
      StoreFailure("the folder of request " + std::to_string(question_id) + " is a link");
    }
    const fs::path temp = folder / (".upload." + std::to_string(getpid()) + "." +
                                    std::to_string(temp_counter++) + ".tmp");
    {
      std::ofstream out(temp, std::ios::binary | std::ios::trunc);
      out.write(content.data(), static_cast<std::streamsize>(content.size()));
      out.close();
      if (!out) {
        fs::remove(temp, error);
        StoreFailure("cannot write " + temp.string());
      }
    }
    fs::rename(temp, incoming / name, error);
    if (error) {
      std::error_code ignored;
      fs::remove(temp, ignored);
      StoreFailure("cannot store " + (incoming / name).string(), error);
    }
    return std::string(kIncomingFolder) + "/" + name;
  });
}

std::optional<fs::path> RequestFile(int32_t question_id, std::string_view relative) {
  const size_t slash = relative.find('/');
  if (question_id < 0 || slash == std::string_view::npos) return std::nullopt;
  const std::string folder_name(relative.substr(0, slash));
  const std::string name(relative.substr(slash + 1));
  for (const std::string& part : {folder_name, name}) {
    if (part.empty() || part.starts_with(".") || !IsStorableName(part) ||
        part.find_first_of(std::string_view("/\\\0", 3)) != std::string::npos) {
      return std::nullopt;
    }
  }
  const fs::path request = RequestFolder(question_id);
  const fs::path folder = request / folder_name;
  const fs::path file = folder / name;
  std::error_code error;
  if (fs::symlink_status(request, error).type() != fs::file_type::directory ||
      fs::symlink_status(folder, error).type() != fs::file_type::directory ||
      fs::symlink_status(file, error).type() != fs::file_type::regular) {
    return std::nullopt;
  }
  return file;
}

fs::path FileStoreRoot() {
  std::string setting = SettingValue("files", "store_dir");
  if (setting.empty()) setting = std::string(kDefaultStoreDir);
  std::replace(setting.begin(), setting.end(), '\\', '/');
  fs::path root(setting);
  if (root.is_relative()) root = fs::path(GetInstallDir()) / root;
  return root.lexically_normal();
}

fs::path RequestFolder(int32_t question_id) {
  return FileStoreRoot() / std::to_string(question_id);
}

std::vector<FileTransaction> ReadFileTransactions(int32_t question_id) {
  std::vector<FileTransaction> entries;
  std::ifstream in(RequestFolder(question_id) / kTransactionLog, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string field;
    if (!std::getline(fields, field, '\t')) continue;
    FileTransaction entry;
    if (auto time = DateTime::Parse(field)) entry.time = *time;
    while (std::getline(fields, field, '\t')) {
      const auto equals = field.find('=');
      if (equals == std::string::npos) continue;
      const std::string key = field.substr(0, equals);
      const std::string value = field.substr(equals + 1);
      if (key == "kind") entry.kind = ParseNumber(value);
      if (key == "T_ID") entry.transaction_id = ParseNumber(value);
      if (key == "option4") entry.option4 = value;
      if (key == "option5") entry.option5 = value;
      if (key == "files") entry.files_moved = ParseNumber(value);
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

}  // namespace heliq
