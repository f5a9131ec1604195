// The local file store: the working stand-in of the file-handling component
// ("HlqCommonMTS.FileHandling") and the functions with which tests and tools look into it.
//
// Layout under the store root ([files] store_dir, default "var/files", relative to the install
// directory unless absolute; "\" in the setting is read as "/"):
//   <root>/<Q_ID>/incoming/          files the front end attached, not yet tied to an action
//   <root>/<Q_ID>/T<T_ID>/           the files of the action logged as T_ID, moved there from
//                                    incoming/ by HandleTransactionFiles
//   <root>/<Q_ID>/kind-<kind>/<name> files stored by TransferFile / PutRemoteFile (kind 10 for
//                                    reports, 11 for engineer lists)
//   <root>/<Q_ID>/transactions.log   one line per HandleTransactionFiles (see FileTransaction)
//   <root>/<Q_ID>/publish.lst        the files marked for publishing, one relative path a line
//   <root>/faq/<FAQ number>/         the files published with a FAQ entry
// Request 0 holds the files that belong to no request (reports).
//
// The store never follows a symbolic link inside it: links in incoming/ and in action folders are
// left where they are, never moved, listed or published. A file whose name holds a control
// character (a line break) is not taken in from incoming/. A publish list entry that is not
// "T<T_ID>/<name>" (an absolute path, "..") fails the publishing.
//
// The store is outside the unit of work: what it did stays done when the caller rolls back.
// Every failure of the store (missing source file, a folder it cannot create or write) raises
// ComError err::kFileServer; a file name that is empty or not a plain name raises
// err::kInvalidProcedureCall.
//
// Thread safety: separate component objects may run concurrently; files are written under a
// temporary name and renamed into place, and log lines are appended whole.
#ifndef HELIQ_PORTAL_FILEHANDLING_FILE_STORE_H_
#define HELIQ_PORTAL_FILEHANDLING_FILE_STORE_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/variant.h"

namespace heliq {

// Registers "HlqCommonMTS.FileHandling".
void RegisterFileHandlingComponent();

// The store root as configured (absolute).
std::filesystem::path FileStoreRoot();
// The folder of one request (not created).
std::filesystem::path RequestFolder(int32_t question_id);

// One line of a request's transactions.log: what HandleTransactionFiles was told.
struct FileTransaction {
  DateTime time;
  int32_t kind = 0;
  int32_t transaction_id = 0;
  std::string option4;  // the optional values as text, "" when not given
  std::string option5;
  int32_t files_moved = 0;  // files moved from incoming/ to T<T_ID>/
};

// The request's log, oldest first; empty when the request has none.
std::vector<FileTransaction> ReadFileTransactions(int32_t question_id);

// The longest attachment name StoreIncomingFile takes, in bytes.
inline constexpr size_t kMaxAttachmentName = 200;

// Writes `content` as incoming/<name> of request `question_id`, replacing a file of that name,
// and returns "incoming/<name>". The file is written under a temporary name outside incoming/
// and renamed into it, so the action that moves incoming/ never takes a half-written file and a
// failed write leaves nothing behind. A name that is empty, "." or "..", longer than
// kMaxAttachmentName bytes, starts with "." or holds "/", "\" or a control character raises
// err::kInvalidProcedureCall; a write that fails err::kFileServer.
std::string StoreIncomingFile(int32_t question_id, const std::string& name,
                              std::string_view content);

// The file `relative` ("<folder>/<name>", as the request's listing names it: "incoming/x.pdf",
// "T12/x.pdf") of request `question_id`, or nullopt when that is no plain file of a plain folder
// of the request (missing, reached through a link, a hidden name, any other shape of path).
std::optional<std::filesystem::path> RequestFile(int32_t question_id, std::string_view relative);

}  // namespace heliq

#endif  // HELIQ_PORTAL_FILEHANDLING_FILE_STORE_H_
