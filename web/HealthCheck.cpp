#include "web/HealthCheck.h"

namespace corvel {

bool isHealthCheck(const HttpRequest& request) {
    return request.path == "health" && (request.method == HttpMethod::Get || request.method == HttpMethod::Head);
}

}  // namespace corvel
