#include "servicerequest/service_request_library.h"

#include <mutex>

#include "servicerequest/dispatch/dispatch.h"
#include "servicerequest/question/daemon.h"
#include "servicerequest/question/prospect.h"
#include "servicerequest/question/question.h"
#include "servicerequest/src/operations.h"

namespace heliq {

void RegisterServiceRequestLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterProspectComponent();
    RegisterQuestionComponent();
    RegisterDispatchComponent();
    RegisterDaemonComponent();
    internal::AddProspectOperations();
    internal::AddQuestionOperations();
    internal::AddDispatchOperations();
    internal::AddWorkStepOperations();
    internal::AddDaemonOperations();
    internal::AddClosingOperations();
    internal::AddAnswerOperations();
    internal::AddPublishingOperations();
    internal::AddAdvancedOperations();
    internal::AddBackOfficeSyncOperations();
    internal::AddCustomerActionOperations();
  });
}

}  // namespace heliq
