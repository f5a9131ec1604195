// The file-handling component ("HlqCommonMTS.FileHandling"): keeps the files of a request in step
// with its transactions. Outside the unit of work: what it did stays done when a call rolls back.
//
// Thread safety: one object per use; separate objects may run concurrently.
#ifndef HELIQ_COMMON_FILE_HANDLING_H_
#define HELIQ_COMMON_FILE_HANDLING_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/component.h"
#include "platform/variant.h"

namespace heliq {

inline constexpr std::string_view kFileHandlingClassId = "HlqCommonMTS.FileHandling";

// Kinds of HandleTransactionFiles.
inline constexpr int32_t kFilesCustomerAction = 2;
inline constexpr int32_t kFilesEngineerSave = 4;
inline constexpr int32_t kFilesEngineerAction = 5;
// Kind of TransferFile for an engineer-list file, and of report files.
inline constexpr int32_t kFilesEngineerList = 11;
inline constexpr int32_t kFilesReport = 10;

class FileHandling : public Component {
 public:
  // Files of request `question_id` after the action logged as `transaction_id`.
  virtual void HandleTransactionFiles(int32_t question_id, int32_t kind, int32_t transaction_id,
                                      const Variant& option4 = Variant(),
                                      const Variant& option5 = Variant()) = 0;
  virtual void MarkFilesForPublishing(int32_t question_id) = 0;
  virtual void PublishFiles(int32_t question_id, int32_t faq_number) = 0;
  // Stores a local file for a request. A file server that cannot take it raises err::kFileServer.
  virtual void TransferFile(const std::string& local_path, int32_t question_id, int32_t kind,
                            int32_t flags) = 0;
  virtual bool FileAlreadyAttached(const std::string& file_name, int32_t question_id,
                                   const std::vector<int32_t>& kinds) = 0;
  virtual void DeleteRemoteFile(const std::string& file_name, int32_t question_id) = 0;
  virtual void PutRemoteFile(const std::string& local_path, int32_t question_id) = 0;
};

}  // namespace heliq

#endif  // HELIQ_COMMON_FILE_HANDLING_H_
