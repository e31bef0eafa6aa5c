// State reports to systemd for a Type=notify service (sd_notify), and whether this
// process was started by systemd at all.
#pragma once

#include <string>

namespace corvel {

// True when systemd started this process: it set NOTIFY_SOCKET or INVOCATION_ID.
bool startedByServiceManager();

// Sends one or more "NAME=value" lines (such as "READY=1\nSTATUS=Serving") to
// systemd. False when there is nowhere to send them or the send failed; builds
// without libsystemd always return false. Safe to call from any thread.
bool notifyServiceManager(const std::string& assignments);

}  // namespace corvel
