// <tls> of ftpconfig.xml: FTP over TLS on the FTP port. One enum for the server,
// corvelctl and the console, read from the file by tlsModeValue.
#pragma once

namespace corvel {

enum class TlsMode {
    Off,       // absent or "off": AUTH is not understood, as without the extension
    Explicit,  // "explicit": AUTH TLS upgrades the control connection on request
    Required,  // "required": as explicit, and no login or clear data before it
};

}  // namespace corvel
