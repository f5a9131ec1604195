#include "portal/backoffice/src/call_store.h"

#include <cstdio>

#include "common/heliq_utilities.h"
#include "platform/clock.h"
#include "platform/com_error.h"
#include "platform/configuration.h"

namespace heliq::backoffice {
namespace {

constexpr std::string_view kNextCounterValue =
    "insert into BO_COUNTER (COUNTER_NAME, COUNTER_VALUE) values (?, 1) "
    "on conflict (COUNTER_NAME) do update set COUNTER_VALUE = BO_COUNTER.COUNTER_VALUE + 1 "
    "returning COUNTER_VALUE";

constexpr std::string_view kSelectCall =
    "select CALLNUMBER, GENERATION, CALLTYPE, Q_ID, BP_NUMBER, DESCRIPTION, CALLTEXT, STATUS, "
    "WAITINGFLAG, WAITINGDESC, SUPPORTENGCODE, SERVICEORDER, CONTRACT, CONTRACTDESC, WARRANTY, "
    "WARRANTYDESC, WARRANTYEXPDATE, LASTOPTION, LASTACTIONBY, OPENED, CHANGED, LASTTRANSTIME "
    "from BO_CALL where CALLNUMBER = ?";

constexpr std::string_view kSelectAllCalls =
    "select CALLNUMBER, GENERATION, CALLTYPE, Q_ID, BP_NUMBER, DESCRIPTION, CALLTEXT, STATUS, "
    "WAITINGFLAG, WAITINGDESC, SUPPORTENGCODE, SERVICEORDER, CONTRACT, CONTRACTDESC, WARRANTY, "
    "WARRANTYDESC, WARRANTYEXPDATE, LASTOPTION, LASTACTIONBY, OPENED, CHANGED, LASTTRANSTIME "
    "from BO_CALL order by CALLNUMBER";

constexpr std::string_view kInsertCall =
    "insert into BO_CALL (CALLNUMBER, GENERATION, CALLTYPE, Q_ID, BP_NUMBER, DESCRIPTION, "
    "CALLTEXT, STATUS, WAITINGFLAG, WAITINGDESC, SUPPORTENGCODE, SERVICEORDER, CONTRACT, "
    "CONTRACTDESC, WARRANTY, WARRANTYDESC, WARRANTYEXPDATE, LASTOPTION, LASTACTIONBY, OPENED, "
    "CHANGED, LASTTRANSTIME) values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
    "?, ?)";

// The stamp condition makes the save a compare-and-set: a change that slipped in since the call
// was read leaves this statement without a row.
constexpr std::string_view kSaveCall =
    "update BO_CALL set STATUS = ?, WAITINGFLAG = ?, WAITINGDESC = ?, SUPPORTENGCODE = ?, "
    "SERVICEORDER = ?, CALLTEXT = ?, LASTOPTION = ?, LASTACTIONBY = ?, CHANGED = ?, "
    "LASTTRANSTIME = ? where CALLNUMBER = ? and LASTTRANSTIME = ?";

constexpr std::string_view kConsumeRefusal =
    "delete from BO_CONTROL where CONTROL_ID = (select min(CONTROL_ID) from BO_CONTROL) "
    "returning MESSAGE";
constexpr std::string_view kInsertRefusal = "insert into BO_CONTROL (MESSAGE) values (?)";
constexpr std::string_view kCountRefusals = "select count(*) from BO_CONTROL";

constexpr std::string_view kInsertRequest =
    "insert into BO_REQUEST (RECEIVED, GENERATION, OPERATION, CALLNUMBER, CALL_OPTION, "
    "ACTIONDONEBY, SENTSTAMP, OUTCOME) values (?, ?, ?, ?, ?, ?, ?, ?)";
constexpr std::string_view kSelectAllRequests =
    "select REQUEST_ID, RECEIVED, GENERATION, OPERATION, CALLNUMBER, CALL_OPTION, ACTIONDONEBY, "
    "SENTSTAMP, OUTCOME from BO_REQUEST order by REQUEST_ID";
constexpr std::string_view kSelectCallRequests =
    "select REQUEST_ID, RECEIVED, GENERATION, OPERATION, CALLNUMBER, CALL_OPTION, ACTIONDONEBY, "
    "SENTSTAMP, OUTCOME from BO_REQUEST where CALLNUMBER = ? order by REQUEST_ID";

constexpr std::string_view kCallCounter = "CALLNUMBER";
constexpr std::string_view kStampCounter = "LASTTRANSTIME";

}  // namespace

std::string BackOfficeConnectionString() {
  const std::string system = SettingValue("connections", "Heliq");
  std::string own = SettingValue("connections", "BackOffice");
  if (own.empty()) own = system;
  if (own.starts_with("sqlite:") && own == system) {
    throw ComError(err::kDbConnection, std::string(kSource),
                   "the back office needs an SQLite file of its own: set [connections] BackOffice");
  }
  return own;
}

namespace {

// Reads the cells of one row by column name.
class Row {
 public:
  Row(const ResultSet& result, size_t index) : result_(result), index_(index) {}
  Variant Get(std::string_view name) const {
    const int column = result_.ColumnIndex(name);
    if (column < 0) {
      throw ComError(err::kItemNotFound, std::string(kSource),
                     "no column " + std::string(name) + " in the back office's answer");
    }
    return result_.rows[index_][static_cast<size_t>(column)];
  }
  std::string Text(std::string_view name) const { return Get(name).ToTextOrEmpty(); }
  int32_t Long(std::string_view name) const {
    const Variant value = Get(name);
    return value.IsNull() ? 0 : value.ToLong();
  }
  DateTime Date(std::string_view name) const {
    const Variant value = Get(name);
    return value.IsNull() ? DateTime() : value.ToDate();
  }

 private:
  const ResultSet& result_;
  size_t index_;
};

BackOfficeCall CallFrom(const Row& row) {
  BackOfficeCall call;
  call.call_number = row.Text("CALLNUMBER");
  call.generation = row.Long("GENERATION");
  call.call_type = row.Text("CALLTYPE");
  call.question_id = row.Long("Q_ID");
  call.bp_number = row.Text("BP_NUMBER");
  call.description = row.Text("DESCRIPTION");
  call.text = row.Text("CALLTEXT");
  call.status = row.Long("STATUS");
  call.waiting_flag = row.Long("WAITINGFLAG");
  call.waiting_desc = row.Text("WAITINGDESC");
  call.support_eng_code = row.Text("SUPPORTENGCODE");
  call.service_order = row.Text("SERVICEORDER");
  call.contract = row.Text("CONTRACT");
  call.contract_desc = row.Text("CONTRACTDESC");
  call.warranty = row.Text("WARRANTY");
  call.warranty_desc = row.Text("WARRANTYDESC");
  call.warranty_exp_date = row.Text("WARRANTYEXPDATE");
  call.last_option = row.Long("LASTOPTION");
  call.last_action_by = row.Text("LASTACTIONBY");
  call.opened = row.Date("OPENED");
  call.changed = row.Date("CHANGED");
  call.last_trans_time = row.Text("LASTTRANSTIME");
  return call;
}

BackOfficeRequest RequestFrom(const Row& row) {
  BackOfficeRequest request;
  request.id = row.Get("REQUEST_ID").ToLongLong();
  request.received = row.Date("RECEIVED");
  request.generation = row.Long("GENERATION");
  request.operation = row.Text("OPERATION");
  request.call_number = row.Text("CALLNUMBER");
  request.option = row.Long("CALL_OPTION");
  request.action_done_by = row.Text("ACTIONDONEBY");
  request.sent_stamp = row.Text("SENTSTAMP");
  request.outcome = row.Text("OUTCOME");
  return request;
}

}  // namespace

CallStore::CallStore()
    : session_(SessionPool::For(BackOfficeConnectionString(), GetInstallDir())->Acquire()) {}

void CallStore::Begin() { session_->Begin(true); }

void CallStore::Commit() { session_->Commit(); }

int64_t CallStore::NextValue(std::string_view counter) {
  const ResultSet result = session_->Query(kNextCounterValue, {Variant(counter)});
  if (result.rows.empty()) {
    throw ComError(err::kDbError, std::string(kSource),
                   "counter " + std::string(counter) + " gave no value");
  }
  return result.rows[0][0].ToLongLong();
}

std::string CallStore::NextStamp() {
  const DateTime now = Now();
  const int64_t sequence = NextValue(kStampCounter);
  char text[96];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d%06lld", now.year, now.month, now.day,
                now.hour, now.minute, now.second, static_cast<long long>(sequence));
  return text;
}

std::string CallStore::NextCallNumber() {
  char text[32];
  std::snprintf(text, sizeof text, "C%07lld", static_cast<long long>(NextValue(kCallCounter)));
  return text;
}

std::optional<BackOfficeCall> CallStore::FindCall(std::string_view call_number) {
  const ResultSet result = session_->Query(kSelectCall, {Variant(call_number)});
  if (result.rows.empty()) return std::nullopt;
  return CallFrom(Row(result, 0));
}

std::vector<BackOfficeCall> CallStore::ListCalls() {
  const ResultSet result = session_->Query(kSelectAllCalls, {});
  std::vector<BackOfficeCall> calls;
  calls.reserve(result.rows.size());
  for (size_t i = 0; i < result.rows.size(); ++i) calls.push_back(CallFrom(Row(result, i)));
  return calls;
}

void CallStore::InsertCall(const BackOfficeCall& call) {
  session_->Execute(kInsertCall, {Variant(call.call_number),
                                  Variant(call.generation),
                                  Variant(call.call_type),
                                  Variant(call.question_id),
                                  Variant(call.bp_number),
                                  Variant(call.description),
                                  Variant(call.text),
                                  Variant(call.status),
                                  Variant(call.waiting_flag),
                                  Variant(call.waiting_desc),
                                  Variant(call.support_eng_code),
                                  Variant(call.service_order),
                                  Variant(call.contract),
                                  Variant(call.contract_desc),
                                  Variant(call.warranty),
                                  Variant(call.warranty_desc),
                                  Variant(call.warranty_exp_date),
                                  Variant(call.last_option),
                                  Variant(call.last_action_by),
                                  Variant(call.opened),
                                  Variant(call.changed),
                                  Variant(call.last_trans_time)});
}

bool CallStore::SaveCall(const BackOfficeCall& call, std::string_view expected_stamp) {
  return session_->Execute(kSaveCall, {Variant(call.status), Variant(call.waiting_flag),
                                       Variant(call.waiting_desc), Variant(call.support_eng_code),
                                       Variant(call.service_order), Variant(call.text),
                                       Variant(call.last_option), Variant(call.last_action_by),
                                       Variant(call.changed), Variant(call.last_trans_time),
                                       Variant(call.call_number), Variant(expected_stamp)}) == 1;
}

std::optional<std::string> CallStore::ConsumeRefusal() {
  const ResultSet result = session_->Query(kConsumeRefusal, {});
  if (result.rows.empty()) return std::nullopt;
  return result.rows[0][0].ToTextOrEmpty();
}

void CallStore::AddRefusal(std::string_view message) {
  session_->Execute(kInsertRefusal, {Variant(message)});
}

int64_t CallStore::PendingRefusals() {
  return session_->Query(kCountRefusals, {}).rows.at(0).at(0).ToLongLong();
}

void CallStore::LogRequest(const BackOfficeRequest& request) {
  session_->Execute(kInsertRequest, {Variant(request.received), Variant(request.generation),
                                     Variant(request.operation), Variant(request.call_number),
                                     Variant(request.option), Variant(request.action_done_by),
                                     Variant(request.sent_stamp), Variant(request.outcome)});
}

std::vector<BackOfficeRequest> CallStore::Requests(std::string_view call_number) {
  const ResultSet result = call_number.empty()
                               ? session_->Query(kSelectAllRequests, {})
                               : session_->Query(kSelectCallRequests, {Variant(call_number)});
  std::vector<BackOfficeRequest> requests;
  requests.reserve(result.rows.size());
  for (size_t i = 0; i < result.rows.size(); ++i) requests.push_back(RequestFrom(Row(result, i)));
  return requests;
}

}  // namespace heliq::backoffice
