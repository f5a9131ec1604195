// The API description (OpenAPI 3.0) of the HTTP host, generated from the operation table at the
// time of the call, so operations added to the table appear without more work.
//
// Thread safety: may be called from any thread once the table is filled.
#ifndef HELIQ_HOST_OPENAPI_H_
#define HELIQ_HOST_OPENAPI_H_

#include <nlohmann/json.hpp>

namespace heliq {

// One path per operation (POST /api/v1/<class id>/<operation>, its named arguments as the
// request body's properties, required unless optional or by reference; the answer with "result"
// and the by-reference values under "byref"), the host's own routes (/api/v1/requests...,
// /healthz, /metrics) and the bearer-token security scheme.
nlohmann::ordered_json OpenApiDocument();

}  // namespace heliq

#endif  // HELIQ_HOST_OPENAPI_H_
