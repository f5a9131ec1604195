// The clean-up service: abandoned unregistered requests and the file store's leftovers.
#include <charconv>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/heliq_utilities.h"
#include "portal/filehandling/file_store.h"
#include "portal/maintenance/src/maintenance_support.h"

namespace heliq::maintenance {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kSelectAbandoned =
    "SELECT Q_ID FROM QUESTIONS WHERE Q_STATUS = 0 AND Q_DATE < ? ORDER BY Q_ID";
// The status is checked again: a request registered since the select stays.
constexpr std::string_view kDeleteAbandoned =
    "DELETE FROM QUESTIONS WHERE Q_ID = ? AND Q_STATUS = 0";
constexpr std::string_view kDeleteAbandonedReminder = "DELETE FROM REMINDER WHERE Q_ID = ?";
constexpr std::string_view kCountRequest =
    "SELECT (SELECT COUNT(*) FROM QUESTIONS WHERE Q_ID = ?) + "
    "(SELECT COUNT(*) FROM QUESTIONHISTORY WHERE Q_ID = ?)";

constexpr std::string_view kIncomingFolder = "incoming";

// The request number a store folder is named after; nullopt for other folders (faq, ...).
std::optional<int32_t> RequestNumberOf(const fs::path& folder) {
  const std::string name = folder.filename().string();
  int32_t number = 0;
  const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), number);
  if (error != std::errc() || end != name.data() + name.size() || number <= 0) return std::nullopt;
  return number;
}

// A file the store writes under a temporary name before renaming it into place.
bool IsTemporaryFile(const fs::directory_entry& entry) {
  const std::string name = entry.path().filename().string();
  return entry.is_regular_file() && name.starts_with(".") && name.ends_with(".tmp");
}

struct SweepCounts {
  int orphan_folders = 0;
  int incoming_folders = 0;
  int temporary_files = 0;
};

class CleanupService final : public ServiceBase {
 public:
  explicit CleanupService(MaintenanceOptions options)
      : ServiceBase(kCleanupServiceId, std::move(options)) {}

 protected:
  void Execute(const MaintenanceSettings& settings) override {
    const DateTime now = GetCurrentDateTime();
    const std::vector<int32_t> deleted =
        DeleteAbandoned(now.AddSeconds(-3600LL * settings.unregistered_age_hours));
    // The folders go only once the rows are gone for good.
    for (int32_t id : deleted) fs::remove_all(RequestFolder(id));
    const SweepCounts swept = SweepStore(now.AddSeconds(-3600LL * settings.temporary_age_hours));

    std::string ids;
    for (int32_t id : deleted) ids += (ids.empty() ? "" : ", ") + std::to_string(id);
    Note("Clean-up: deleted " + std::to_string(deleted.size()) +
         " unregistered request(s) older than " + std::to_string(settings.unregistered_age_hours) +
         " hours" + (ids.empty() ? "" : " (" + ids + ")") + "; removed " +
         std::to_string(swept.orphan_folders) + " folder(s) of unknown requests, " +
         std::to_string(swept.incoming_folders) + " empty incoming folder(s) and " +
         std::to_string(swept.temporary_files) + " temporary file(s) older than " +
         std::to_string(settings.temporary_age_hours) + " hours.");
  }

 private:
  static std::vector<int32_t> DeleteAbandoned(const DateTime& cutoff) {
    std::vector<int32_t> deleted;
    InUnitOfWork([&] {
      auto connection = GetHeliqConnection();
      for (const auto& row : connection->Query(kSelectAbandoned, {Variant(cutoff)}).rows) {
        const int32_t id = row[0].ToLong();
        if (connection->Execute(kDeleteAbandoned, {Variant(id)}) == 0) continue;
        connection->Execute(kDeleteAbandonedReminder, {Variant(id)});
        deleted.push_back(id);
      }
      connection->Close();
    });
    return deleted;
  }

  // Removes, when last written before `cutoff`: folders of requests that are neither active nor
  // archived, empty incoming/ folders, and temporary files left by an interrupted store.
  static SweepCounts SweepStore(const DateTime& cutoff) {
    SweepCounts counts;
    const fs::path root = FileStoreRoot();
    if (!fs::is_directory(root)) return counts;
    auto connection = GetHeliqConnection();
    std::vector<fs::path> folders;
    for (const auto& entry : fs::directory_iterator(root)) {
      if (entry.is_directory()) folders.push_back(entry.path());
    }
    for (const fs::path& folder : folders) {
      const std::optional<int32_t> id = RequestNumberOf(folder);
      if (id && LastWriteTime(folder) < cutoff &&
          connection->QueryValue(kCountRequest, {Variant(*id), Variant(*id)}).ToLong() == 0) {
        fs::remove_all(folder);
        ++counts.orphan_folders;
        continue;
      }
      SweepFolder(folder, cutoff, counts);
    }
    connection->Close();
    return counts;
  }

  static void SweepFolder(const fs::path& folder, const DateTime& cutoff, SweepCounts& counts) {
    std::vector<fs::path> temporary_files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      if (IsTemporaryFile(entry) && LastWriteTime(entry.path()) < cutoff) {
        temporary_files.push_back(entry.path());
      }
    }
    for (const fs::path& file : temporary_files) {
      std::error_code gone;  // another run may have removed it meanwhile
      if (fs::remove(file, gone)) ++counts.temporary_files;
    }
    const fs::path incoming = folder / kIncomingFolder;
    if (fs::is_directory(incoming) && fs::is_empty(incoming) && LastWriteTime(incoming) < cutoff) {
      std::error_code gone;
      if (fs::remove(incoming, gone)) ++counts.incoming_folders;
    }
  }
};

}  // namespace

std::unique_ptr<ServiceBase> MakeCleanupService(MaintenanceOptions options) {
  return std::make_unique<CleanupService>(std::move(options));
}

}  // namespace heliq::maintenance
