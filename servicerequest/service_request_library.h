// Entry point of the service-request component library: registers its public classes in the
// component registry and their public operations in the operation table. Idempotent.
#ifndef HELIQ_SERVICEREQUEST_SERVICE_REQUEST_LIBRARY_H_
#define HELIQ_SERVICEREQUEST_SERVICE_REQUEST_LIBRARY_H_

namespace heliq {

void RegisterServiceRequestLibrary();

}  // namespace heliq

#endif  // HELIQ_SERVICEREQUEST_SERVICE_REQUEST_LIBRARY_H_
