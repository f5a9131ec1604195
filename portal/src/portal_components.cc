#include "portal/portal_components.h"

#include "portal/backend/backend_components.h"
#include "portal/backoffice/backoffice_simulator.h"
#include "portal/backoffice/master_data_simulator.h"
#include "portal/directory/directory_components.h"
#include "portal/faqlist/faq_catalogue_stand_in.h"
#include "portal/filehandling/file_store.h"
#include "portal/maintenance/maintenance_services.h"
#include "portal/report/report_stand_in.h"

namespace heliq {

void RegisterPortalComponents() {
  RegisterBackOfficeComponents();
  RegisterBackOfficeAuditComponents();
  RegisterFileHandlingComponent();
  RegisterDirectoryComponents();
  RegisterBackendComponents();
  RegisterFaqCatalogueComponent();
  RegisterReportComponents();
  RegisterMaintenanceServices();
}

}  // namespace heliq
