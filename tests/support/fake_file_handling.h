// A file-handling component that records its calls, and can be told to fail.
#ifndef HELIQ_TESTS_SUPPORT_FAKE_FILE_HANDLING_H_
#define HELIQ_TESTS_SUPPORT_FAKE_FILE_HANDLING_H_

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/file_handling.h"
#include "platform/com_error.h"
#include "platform/component.h"

namespace heliq::testing {

class FakeFileHandling : public FileHandling {
 public:
  struct Call {
    std::string operation;
    int32_t question_id = 0;
    int32_t kind = 0;
    int32_t transaction_id = 0;
    Variant option4;
    Variant option5;
  };

  // Shared record of every call made to any FakeFileHandling while installed.
  struct Record {
    std::mutex mutex;
    std::vector<Call> calls;
    std::optional<ComError> fail_with;  // every call raises this when set
  };

  explicit FakeFileHandling(std::shared_ptr<Record> record) : record_(std::move(record)) {}

  void HandleTransactionFiles(int32_t question_id, int32_t kind, int32_t transaction_id,
                              const Variant& option4, const Variant& option5) override {
    Add({"HandleTransactionFiles", question_id, kind, transaction_id, option4, option5});
  }
  void MarkFilesForPublishing(int32_t question_id) override {
    Add({"MarkFilesForPublishing", question_id});
  }
  void PublishFiles(int32_t question_id, int32_t faq_number) override {
    Add({"PublishFiles", question_id, faq_number});
  }
  void TransferFile(const std::string& path, int32_t question_id, int32_t kind,
                    int32_t flags) override {
    Add({"TransferFile", question_id, kind, flags, Variant(path)});
  }
  bool FileAlreadyAttached(const std::string& name, int32_t question_id,
                           const std::vector<int32_t>&) override {
    Add({"FileAlreadyAttached", question_id, 0, 0, Variant(name)});
    return false;
  }
  void DeleteRemoteFile(const std::string& name, int32_t question_id) override {
    Add({"DeleteRemoteFile", question_id, 0, 0, Variant(name)});
  }
  void PutRemoteFile(const std::string& path, int32_t question_id) override {
    Add({"PutRemoteFile", question_id, 0, 0, Variant(path)});
  }

 private:
  void Add(Call call) {
    std::lock_guard lock(record_->mutex);
    if (record_->fail_with) throw *record_->fail_with;
    record_->calls.push_back(std::move(call));
  }
  std::shared_ptr<Record> record_;
};

// Installs a FakeFileHandling for the lifetime of the object.
class ScopedFakeFileHandling {
 public:
  ScopedFakeFileHandling()
      : record_(std::make_shared<FakeFileHandling::Record>()),
        registration_(std::string(kFileHandlingClassId),
                      [record = record_] { return std::make_unique<FakeFileHandling>(record); }) {}
  std::vector<FakeFileHandling::Call> calls() const {
    std::lock_guard lock(record_->mutex);
    return record_->calls;
  }
  void FailWith(ComError error) {
    std::lock_guard lock(record_->mutex);
    record_->fail_with = std::move(error);
  }

 private:
  std::shared_ptr<FakeFileHandling::Record> record_;
  ScopedRegistration registration_;
};

}  // namespace heliq::testing

#endif  // HELIQ_TESTS_SUPPORT_FAKE_FILE_HANDLING_H_
