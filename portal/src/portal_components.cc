#include "portal/portal_components.h"

namespace heliq {

void RegisterPortalComponents() {
}

}  // namespace heliq
