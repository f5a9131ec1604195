// The front end's own part of a request's life, which the component libraries leave to their
// caller: creating the unregistered row (status 0) that registration fills in, reading a request
// back with its reminder and transaction log, and listing a prospect's requests.
//
// Thread safety: every function may run concurrently; each is its own (read-only, apart from
// the creation) unit of work.
#ifndef HELIQ_HOST_REQUEST_STORE_H_
#define HELIQ_HOST_REQUEST_STORE_H_

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/variant.h"

namespace heliq {

// The QUESTIONS columns a front end fills before registration.
const std::vector<std::string_view>& FrontEndRequestFields();

// Inserts a QUESTIONS row with status 0 and the given fields (keys from FrontEndRequestFields,
// case-sensitive) and returns its new Q_ID: one above the highest that anything refers to (active
// and archived requests, log rows, reminders, previews), past any number whose folder the file
// store holds, so a new request never inherits another's history. Each value must fit its column:
// texts for text columns, whole 32-bit numbers for numbers, 1 or 2 for CENTER, 0/1 or a Boolean
// for PROSPECT and OSVREQUESTED, a "YYYY-MM-DD hh:mm:ss" text for PREFSTARTDATE; null is stored as
// null. An unknown key or a value that does not fit raises err::kBadRequest naming the field,
// with nothing written.
int32_t CreateUnregisteredRequest(const Dictionary& fields);

// The request as a dictionary: "archived" (Boolean), "request" (the QUESTIONS or QUESTIONHISTORY
// row, columns upper case, with ESCALATED: when the escalation run last mailed about it, or
// null), "call" (a support-centre request's back-office call: CALLNUMBER, Q_CALLTYPE,
// SERVICEORDER, LASTTRANSTIME and its CALLDETAIL CONTRACT, CONTRACTDESC, WARRANTY, WARRANTYDESC,
// WEXPIRYDATE; null otherwise), "reminder" (the REMINDER row or null), "transactions" (array of
// log rows in T_ID order), "attachments" (the files of the request's folder in the file store,
// each {"path" relative to the folder, "name", "bytes", "T_ID" of the action it belongs to or
// null}, in path order). Null when no request has this id.
Variant ReadRequest(int32_t question_id);

// The transaction log of a request (array of log rows in T_ID order), or null when no request,
// active or archived, has this id. Log rows of an archived request stay readable.
Variant ReadTransactionLog(int32_t question_id);

// {"reminder": the REMINDER row or null}, or null when no request has this id (an archived
// request has no reminder).
Variant ReadReminder(int32_t question_id);

// The requests of a prospect's e-mail address (compared without regard to case), active and
// archived, each as {"Q_ID", "Q_STATUS", "Q_DESC", "archived"}, in Q_ID order.
Variant ListProspectRequests(std::string_view email);

}  // namespace heliq

#endif  // HELIQ_HOST_REQUEST_STORE_H_
