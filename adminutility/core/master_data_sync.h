// The master-data synchronisation runs: bring the changes the back office recorded in its audit
// trail since the stored LastSynchronizedDate into the system's copies of its master data
// (PRIORITY, PROBLEM, SYMPTOM, OBJECT, SITE, PRODUCT), one table at a time, and write a log file
// of what was done.
//
// A run reads the back office through its audit components (common/master_data_audit.h), created
// by class identifier; the back office to read is the default back end of the back-end selector.
// Each table's work commits statement by statement: a table that fails half-way keeps the rows it
// had already written, its failure is logged and shown, and the run goes on with the next table.
// The stored LastSynchronizedDate is never changed by a run, so a second run sees the same audit
// records again: rows it inserted before now count as skipped.
//
// The log file lives in "<parent of the install dir>/HlqLog/MasterData Synchronization/" and is
// named "SynchronizedOn YYYY-MM-DD hh-mm-ss.txt" (" (2)", " (3)", ... when that name is taken);
// it is UTF-16 with a byte-order mark and CR LF line ends.
//
// Thread safety: one run per thread; two runs may overlap (each has its own log file).
#ifndef HELIQ_ADMINUTILITY_CORE_MASTER_DATA_SYNC_H_
#define HELIQ_ADMINUTILITY_CORE_MASTER_DATA_SYNC_H_

#include <filesystem>
#include <string>

#include "adminutility/core/admin_ui.h"

namespace heliq::admin {

// Which back-office generation's run: they differ in the LastSynchronizedDate they read
// (PARAM_TYPE 3 for Mk5, 1 for Mk4), in their tables and in their messages.
enum class SyncGeneration { kMk5, kMk4 };

struct SyncReport {
  // What the run did, several lines: the period, then one block per table (its counts, "No data"
  // or its failure), or the reason it did not start. The same texts as the log file.
  std::string summary;
  // The log file written, empty only when it could not be created.
  std::filesystem::path log_file;
};

// Runs one synchronisation. The busy pointer shows while it runs. Afterwards, a run that could
// not start (no back-office component, no stored date, no log file) or tables that failed are
// shown together in one box with an exclamation icon; a run that started then ends with an
// information box naming the log file. Never throws for a failure of the back office, the
// database or the log file; those end in the log (when there is one), the summary and on `ui`.
SyncReport RunMasterDataSync(SyncGeneration generation, AdminUi& ui);

}  // namespace heliq::admin

#endif  // HELIQ_ADMINUTILITY_CORE_MASTER_DATA_SYNC_H_
