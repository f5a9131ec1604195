// The archive service: archived requests that ended long ago leave the database for a file.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <variant>

#include "common/heliq_utilities.h"
#include "portal/maintenance/src/maintenance_support.h"

namespace heliq::maintenance {
namespace {

namespace fs = std::filesystem;

// Requests still active (a number reused, a copy left behind) keep their log: it is theirs too.
constexpr std::string_view kSelectEnded =
    "SELECT * FROM QUESTIONHISTORY WHERE ENDSTATUSTIME < ? "
    "AND NOT EXISTS (SELECT 1 FROM QUESTIONS WHERE QUESTIONS.Q_ID = QUESTIONHISTORY.Q_ID) "
    "ORDER BY Q_ID";
constexpr std::string_view kSelectTransactions =
    "SELECT * FROM TRANSACTIONS WHERE Q_ID = ? ORDER BY T_ID";
constexpr std::string_view kDeleteTransactions = "DELETE FROM TRANSACTIONS WHERE Q_ID = ?";
constexpr std::string_view kDeleteEnded =
    "DELETE FROM QUESTIONHISTORY WHERE Q_ID = ? AND ENDSTATUSTIME < ?";

nlohmann::json ToJson(const Variant& value) {
  switch (value.type()) {
    case Variant::Type::kEmpty:
    case Variant::Type::kNull:
      return nullptr;
    case Variant::Type::kBool:
      return value.ToBool();
    case Variant::Type::kInt32:
    case Variant::Type::kInt64:
      return value.ToLongLong();
    case Variant::Type::kDouble:
      return value.ToDouble();
    default:
      return value.ToText();
  }
}

// One line of the archive: {"table": ..., "row": {column: value, ...}}.
std::string ArchiveLine(std::string_view table, const ResultSet& result,
                        const std::vector<Variant>& row) {
  nlohmann::ordered_json values = nlohmann::ordered_json::object();
  for (size_t i = 0; i < result.columns.size(); ++i) values[result.columns[i]] = ToJson(row[i]);
  nlohmann::ordered_json line = {{"table", table}, {"row", values}};
  return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

[[noreturn]] void ArchiveFailure(const fs::path& file) {
  throw ComError(err::kPathFileAccess, "HeliqServices.Archive",
                 "cannot write the archive file " + file.string() + ": " + std::strerror(errno));
}

// Writes `text` to a new file "archive-YYYYMMDD-hhmmss[-n].jsonl" in `folder` (never replacing
// one) and flushes it to the disk; returns its path.
fs::path WriteArchiveFile(const fs::path& folder, const DateTime& now, const std::string& text) {
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) {
    throw ComError(err::kPathFileAccess, "HeliqServices.Archive",
                   "cannot create the archive folder " + folder.string() + ": " + error.message());
  }
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d", now.year, now.month, now.day,
                now.hour, now.minute, now.second);
  for (int attempt = 1;; ++attempt) {
    const fs::path file = folder / ("archive-" + std::string(stamp) +
                                    (attempt == 1 ? "" : "-" + std::to_string(attempt)) + ".jsonl");
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) ArchiveFailure(file);
    size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
      if (n < 0) break;
      done += static_cast<size_t>(n);
    }
    const bool written = done == text.size() && ::fsync(fd) == 0;
    ::close(fd);
    if (!written) {
      std::error_code ignored;
      fs::remove(file, ignored);
      ArchiveFailure(file);
    }
    return file;
  }
}

class ArchiveService final : public ServiceBase {
 public:
  explicit ArchiveService(MaintenanceOptions options)
      : ServiceBase(kArchiveServiceId, std::move(options)) {}

 protected:
  void Execute(const MaintenanceSettings& settings) override {
    const DateTime now = GetCurrentDateTime();
    const Variant cutoff(now.AddSeconds(-86400LL * settings.archive_age_days));
    fs::path file;
    size_t requests = 0;
    size_t transactions = 0;
    try {
      InUnitOfWork([&] {
        auto connection = GetHeliqConnection();
        const ResultSet ended = connection->Query(kSelectEnded, {cutoff});
        std::set<int32_t> ids;
        std::string text;
        for (const auto& row : ended.rows) {
          text += ArchiveLine("QUESTIONHISTORY", ended, row);
          const int32_t id = row[ended.ColumnIndex("Q_ID")].ToLong();
          if (!ids.insert(id).second) continue;
          const ResultSet log = connection->Query(kSelectTransactions, {Variant(id)});
          for (const auto& entry : log.rows) text += ArchiveLine("TRANSACTIONS", log, entry);
          transactions += log.rows.size();
        }
        if (!ids.empty()) {
          // Written before anything is deleted; the rows go in the same unit of work.
          file = WriteArchiveFile(InstallPath(settings.archive_dir), now, text);
          for (int32_t id : ids) {
            connection->Execute(kDeleteTransactions, {Variant(id)});
            connection->Execute(kDeleteEnded, {Variant(id), cutoff});
          }
        }
        requests = ended.rows.size();
        connection->Close();
      });
    } catch (...) {
      // Rolled back: the rows are still in the database, so the file would only duplicate them.
      std::error_code ignored;
      if (!file.empty()) fs::remove(file, ignored);
      throw;
    }
    Note("Archive: moved " + std::to_string(requests) + " request(s) ended more than " +
         std::to_string(settings.archive_age_days) + " days ago and " +
         std::to_string(transactions) + " transaction-log row(s) " +
         (file.empty() ? "(nothing to archive)" : "into " + file.string()) + ".");
  }
};

}  // namespace

std::unique_ptr<ServiceBase> MakeArchiveService(MaintenanceOptions options) {
  return std::make_unique<ArchiveService>(std::move(options));
}

}  // namespace heliq::maintenance
