// Connection and Recordset: the data-access facade every operation uses.
//
// A Connection is opened for a connection string. Inside a unit of work it shares the call's
// session (its statements belong to the call's transaction); outside one it borrows a pooled
// session whose statements commit as they run. Closing a connection never commits or rolls back
// the call's work; that is the unit of work's business.
//
// A Recordset is a materialised result: forward reading, or an updatable row set opened with its
// table and key columns. Saving a row writes only the columns changed since it was read, and checks
// that those columns still hold the values read (optimistic locking): a row that changed
// underneath fails the save with err::kDbRowChanged and nothing is written. New rows (AddNew) are
// inserted with the columns set on them. Field names are found without regard to case.
//
// Neither class is thread-safe.
#ifndef HELIQ_PLATFORM_CONNECTION_H_
#define HELIQ_PLATFORM_CONNECTION_H_

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/database.h"
#include "platform/variant.h"

namespace heliq {

class Connection {
 public:
  // Opens a connection (see the file comment). Errors: err::kDbConnection.
  static std::unique_ptr<Connection> Open(const std::string& connection_string,
                                          const std::string& base_dir);
  ~Connection();

  Dialect dialect() const { return session_->dialect(); }
  bool is_open() const { return session_ != nullptr; }
  // Runs a statement without result rows; returns the number of rows changed.
  int64_t Execute(std::string_view sql, const Params& params = {});
  // Runs a statement with result rows.
  ResultSet Query(std::string_view sql, const Params& params = {});
  // The first column of the first row, or an empty Variant when there is no row.
  Variant QueryValue(std::string_view sql, const Params& params = {});
  // Releases the session (a borrowed one goes back to its pool). Idempotent.
  void Close() noexcept;

 private:
  Connection(Session* shared, PooledSession owned);
  Session& session();
  Session* session_;
  PooledSession owned_;
};

// The table and key of an updatable row set. A key column that the select does not return takes
// its value from `fixed_value` (for example "select Q_STATUS from QUESTIONS where Q_ID = ?").
struct KeyColumn {
  std::string name;
  std::optional<Variant> fixed_value;
};

struct UpdateTarget {
  std::string table;
  std::vector<KeyColumn> keys;
};

class Recordset {
 public:
  // Read-only, forward reading.
  static std::unique_ptr<Recordset> Open(Connection& connection, std::string_view sql,
                                         const Params& params = {});
  // Updatable (optimistic). The connection must stay open while the recordset is used.
  static std::unique_ptr<Recordset> OpenForUpdate(Connection& connection, std::string_view sql,
                                                  const Params& params, UpdateTarget target);

  bool is_open() const { return open_; }
  bool eof() const { return position_ >= rows_.size(); }
  bool bof() const { return rows_.empty(); }
  size_t record_count() const { return rows_.size(); }
  void MoveNext();
  void MoveFirst() { position_ = 0; }

  // The field of the current row; err::kItemNotFound for an unknown name, err::kDbNoCurrentRow at
  // end of file.
  Variant Field(std::string_view name) const;
  Variant operator[](std::string_view name) const { return Field(name); }
  const std::vector<std::string>& columns() const { return columns_; }

  // Changes a field of the current (or new) row; written by Update.
  void SetField(std::string_view name, Variant value);
  // Starts a new row; SetField then Update inserts it.
  void AddNew();
  // Saves the current row (see the file comment). A row with no change writes nothing.
  void Update();
  // Discards changes not yet saved.
  void CancelUpdate();
  bool edit_pending() const { return !pending_.empty() || adding_; }
  // Cancels an edit in progress and closes. Idempotent.
  void Close() noexcept;

 private:
  Recordset() = default;
  void CheckCurrent() const;
  void RequireUpdatable() const;
  void Insert();
  void UpdateCurrent();

  Connection* connection_ = nullptr;
  std::optional<UpdateTarget> target_;
  std::vector<std::string> columns_;
  std::vector<std::vector<Variant>> rows_;
  size_t position_ = 0;
  bool open_ = false;
  bool adding_ = false;
  std::vector<std::pair<std::string, Variant>> pending_;  // column name -> new value
};

}  // namespace heliq

#endif  // HELIQ_PLATFORM_CONNECTION_H_
