#include "platform/connection.h"

#include "platform/com_error.h"
#include "platform/object_context.h"

namespace heliq {

Connection::Connection(Session* shared, PooledSession owned)
    : session_(shared), owned_(std::move(owned)) {}

std::unique_ptr<Connection> Connection::Open(const std::string& connection_string,
                                             const std::string& base_dir) {
  if (ObjectContext* context = GetObjectContext()) {
    return std::unique_ptr<Connection>(
        new Connection(&context->SessionFor(connection_string, base_dir), PooledSession()));
  }
  PooledSession owned = SessionPool::For(connection_string, base_dir)->Acquire();
  Session* session = owned.get();
  return std::unique_ptr<Connection>(new Connection(session, std::move(owned)));
}

Connection::~Connection() { Close(); }

void Connection::Close() noexcept {
  session_ = nullptr;
  owned_ = PooledSession();
}

Session& Connection::session() {
  if (session_ == nullptr) {
    throw ComError(err::kDbConnection, "Connection", "Operation is not allowed when the object is closed.");
  }
  return *session_;
}

int64_t Connection::Execute(std::string_view sql, const Params& params) {
  return session().Execute(sql, params);
}

ResultSet Connection::Query(std::string_view sql, const Params& params) {
  return session().Query(sql, params);
}

Variant Connection::QueryValue(std::string_view sql, const Params& params) {
  ResultSet result = Query(sql, params);
  if (result.rows.empty() || result.columns.empty()) return Variant();
  return result.rows.front().front();
}

std::unique_ptr<Recordset> Recordset::Open(Connection& connection, std::string_view sql,
                                           const Params& params) {
  std::unique_ptr<Recordset> rs(new Recordset());
  ResultSet result = connection.Query(sql, params);
  rs->columns_ = std::move(result.columns);
  rs->rows_ = std::move(result.rows);
  rs->open_ = true;
  return rs;
}

std::unique_ptr<Recordset> Recordset::OpenForUpdate(Connection& connection, std::string_view sql,
                                                    const Params& params, UpdateTarget target) {
  auto rs = Open(connection, sql, params);
  rs->connection_ = &connection;
  rs->target_ = std::move(target);
  return rs;
}

void Recordset::MoveNext() {
  if (eof()) throw ComError::Of(err::kDbNoCurrentRow, "Recordset");
  pending_.clear();
  adding_ = false;
  ++position_;
}

void Recordset::CheckCurrent() const {
  if (!open_) {
    throw ComError(err::kDbConnection, "Recordset",
                   "Operation is not allowed when the object is closed.");
  }
  if (eof()) throw ComError::Of(err::kDbNoCurrentRow, "Recordset");
}

Variant Recordset::Field(std::string_view name) const {
  for (const auto& [column, value] : pending_) {
    if (EqualsIgnoreCase(column, name)) return value;
  }
  if (adding_) return Variant();
  CheckCurrent();
  const int index = FindColumn(columns_, name);
  if (index < 0) throw ComError::Of(err::kItemNotFound, std::string(name));
  return rows_[position_][static_cast<size_t>(index)];
}

void Recordset::RequireUpdatable() const {
  if (!target_) {
    throw ComError(err::kDbError, "Recordset",
                   "Current Recordset does not support updating. This may be a limitation of the "
                   "provider, or of the selected locktype.");
  }
}

void Recordset::SetField(std::string_view name, Variant value) {
  RequireUpdatable();
  if (!adding_) {
    CheckCurrent();
    if (FindColumn(columns_, name) < 0) throw ComError::Of(err::kItemNotFound, std::string(name));
  }
  for (auto& [column, pending] : pending_) {
    if (EqualsIgnoreCase(column, name)) {
      pending = std::move(value);
      return;
    }
  }
  pending_.emplace_back(std::string(name), std::move(value));
}

void Recordset::AddNew() {
  RequireUpdatable();
  pending_.clear();
  adding_ = true;
}

void Recordset::CancelUpdate() {
  pending_.clear();
  adding_ = false;
}

void Recordset::Update() {
  RequireUpdatable();
  if (adding_) {
    Insert();
  } else if (!pending_.empty()) {
    UpdateCurrent();
  }
  pending_.clear();
  adding_ = false;
}

void Recordset::Insert() {
  std::string columns;
  std::string marks;
  Params params;
  for (const auto& [column, value] : pending_) {
    columns += (columns.empty() ? "" : ", ") + column;
    marks += marks.empty() ? "?" : ", ?";
    params.push_back(value);
  }
  connection_->Execute("INSERT INTO " + target_->table + " (" + columns + ") VALUES (" + marks +
                           ")",
                       params);
  std::vector<Variant> row(columns_.size(), Variant::Null());
  for (const auto& [column, value] : pending_) {
    const int index = FindColumn(columns_, column);
    if (index >= 0) row[static_cast<size_t>(index)] = value;
  }
  rows_.push_back(std::move(row));
  position_ = rows_.size() - 1;
}

void Recordset::UpdateCurrent() {
  CheckCurrent();
  auto& row = rows_[position_];
  const char* same_as =
      connection_->dialect() == Dialect::kPostgres ? " IS NOT DISTINCT FROM ?" : " IS ?";
  std::string assignments;
  std::string conditions;
  Params set_params;
  Params where_params;
  for (const auto& key : target_->keys) {
    const int index = FindColumn(columns_, key.name);
    Variant value;
    if (index >= 0) {
      value = row[static_cast<size_t>(index)];
    } else if (key.fixed_value) {
      value = *key.fixed_value;
    } else {
      throw ComError(err::kDbError, "Recordset",
                     "Key column " + key.name + " is neither selected nor given");
    }
    conditions += (conditions.empty() ? "" : " AND ") + key.name + " = ?";
    where_params.push_back(std::move(value));
  }
  for (const auto& [column, value] : pending_) {
    const int index = FindColumn(columns_, column);
    assignments += (assignments.empty() ? "" : ", ") + column + " = ?";
    set_params.push_back(value);
    conditions += " AND " + column + same_as;
    where_params.push_back(row[static_cast<size_t>(index)]);
  }
  set_params.insert(set_params.end(), where_params.begin(), where_params.end());
  const int64_t changed = connection_->Execute(
      "UPDATE " + target_->table + " SET " + assignments + " WHERE " + conditions, set_params);
  if (changed != 1) throw ComError::Of(err::kDbRowChanged, "Recordset");
  for (const auto& [column, value] : pending_) {
    row[static_cast<size_t>(FindColumn(columns_, column))] = value;
  }
}

void Recordset::Close() noexcept {
  pending_.clear();
  adding_ = false;
  open_ = false;
  rows_.clear();
  connection_ = nullptr;
}

}  // namespace heliq
