#include "platform/ServiceNotify.h"

#include <cstdlib>

#ifdef CORVEL_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace corvel {

namespace {
bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}
}  // namespace

bool startedByServiceManager() { return isSet("NOTIFY_SOCKET") || isSet("INVOCATION_ID"); }

#ifdef CORVEL_HAVE_SYSTEMD
bool notifyServiceManager(const std::string& assignments) { return ::sd_notify(0, assignments.c_str()) > 0; }
#else
bool notifyServiceManager(const std::string&) { return false; }
#endif

}  // namespace corvel
