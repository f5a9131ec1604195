// Back-office call components that record their calls, answer with a result the test sets, and
// can be told to refuse (an error text, as the back office does) or to fail (a raised error).
// Installed under both "HeliqMk5.Calls" and "HeliqMk6.Calls" for the lifetime of the scope.
#ifndef HELIQ_TESTS_SUPPORT_FAKE_BACKOFFICE_H_
#define HELIQ_TESTS_SUPPORT_FAKE_BACKOFFICE_H_

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/backoffice_calls.h"
#include "platform/com_error.h"
#include "platform/component.h"
#include "platform/variant.h"

namespace heliq::testing {

class FakeBackOfficeCalls : public BackOfficeCalls {
 public:
  struct Call {
    std::string class_id;
    std::string operation;  // "CreateCall" or "UpdateCall"
    // The call details as they were when the call arrived (a copy: later changes by the caller
    // do not show here).
    Dictionary details;
  };

  // Shared by every FakeBackOfficeCalls of one scope.
  struct Record {
    std::mutex mutex;
    std::vector<Call> calls;
    Dictionary result;                       // entries of every successful answer
    std::optional<std::string> refuse_with;  // every call is refused with this message
    bool answer_when_refused = false;        // a refusal still carries the result's entries
    std::optional<ComError> fail_with;       // every call raises this
  };

  FakeBackOfficeCalls(std::string class_id, std::shared_ptr<Record> record)
      : class_id_(std::move(class_id)), record_(std::move(record)) {}

  DictionaryPtr CreateCall(const DictionaryPtr& call_details, std::string& error) override {
    return Answer("CreateCall", call_details, error);
  }
  DictionaryPtr UpdateCall(const DictionaryPtr& call_details, std::string& error) override {
    return Answer("UpdateCall", call_details, error);
  }

 private:
  DictionaryPtr Answer(const char* operation, const DictionaryPtr& call_details,
                       std::string& error) {
    std::lock_guard lock(record_->mutex);
    record_->calls.push_back({class_id_, operation, call_details ? *call_details : Dictionary()});
    if (record_->fail_with) throw *record_->fail_with;
    auto result = Dictionary::Create();
    if (record_->refuse_with) {
      error = *record_->refuse_with;
      if (!record_->answer_when_refused) return result;
    } else {
      error.clear();
    }
    for (const auto& [key, value] : record_->result.entries()) result->Set(key, value);
    return result;
  }

  std::string class_id_;
  std::shared_ptr<Record> record_;
};

// Installs the fake under both generations' class identifiers.
class ScopedFakeBackOffice {
 public:
  ScopedFakeBackOffice()
      : record_(std::make_shared<FakeBackOfficeCalls::Record>()),
        mk5_(std::string(kMk5CallsClassId), Factory(kMk5CallsClassId)),
        mk6_(std::string(kMk6CallsClassId), Factory(kMk6CallsClassId)) {}

  std::vector<FakeBackOfficeCalls::Call> calls() const {
    std::lock_guard lock(record_->mutex);
    return record_->calls;
  }
  // Sets one entry of every later successful answer.
  void SetResult(std::string_view key, Variant value) {
    std::lock_guard lock(record_->mutex);
    record_->result.Set(key, std::move(value));
  }
  // With `keep_answer` the refusal comes together with the result's entries (a back office may
  // report a changed call and refuse the update in one answer).
  void RefuseWith(std::string message, bool keep_answer = false) {
    std::lock_guard lock(record_->mutex);
    record_->refuse_with = std::move(message);
    record_->answer_when_refused = keep_answer;
  }
  void FailWith(ComError error) {
    std::lock_guard lock(record_->mutex);
    record_->fail_with = std::move(error);
  }

 private:
  ComponentFactory Factory(std::string_view class_id) {
    return [class_id = std::string(class_id), record = record_] {
      return std::make_unique<FakeBackOfficeCalls>(class_id, record);
    };
  }

  std::shared_ptr<FakeBackOfficeCalls::Record> record_;
  ScopedRegistration mk5_;
  ScopedRegistration mk6_;
};

}  // namespace heliq::testing

#endif  // HELIQ_TESTS_SUPPORT_FAKE_BACKOFFICE_H_
