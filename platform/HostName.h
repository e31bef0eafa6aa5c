// The local host's official name, as the web pages' heading shows it.
#pragma once

#include <string>

namespace corvel {

// The host name resolved to its canonical (official) name. When it cannot be
// resolved, the plain host name; empty when even that is unknown. Thread-safe; may
// wait on the system's name resolution.
std::string officialHostName();

}  // namespace corvel
