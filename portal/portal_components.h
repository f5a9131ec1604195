// Registers every working stand-in of the outside components under its class identifier.
#ifndef HELIQ_PORTAL_PORTAL_COMPONENTS_H_
#define HELIQ_PORTAL_PORTAL_COMPONENTS_H_

namespace heliq {

void RegisterPortalComponents();

}  // namespace heliq

#endif  // HELIQ_PORTAL_PORTAL_COMPONENTS_H_
