#include "portal/portal_components.h"

#include "portal/backend/backend_components.h"
#include "portal/backoffice/backoffice_simulator.h"
#include "portal/directory/directory_components.h"
#include "portal/faqlist/faq_catalogue_stand_in.h"
#include "portal/filehandling/file_store.h"

namespace heliq {

void RegisterPortalComponents() {
  RegisterBackOfficeComponents();
  RegisterFileHandlingComponent();
  RegisterDirectoryComponents();
  RegisterBackendComponents();
  RegisterFaqCatalogueComponent();
}

}  // namespace heliq
