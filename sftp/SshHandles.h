// Owners of libssh's objects, so every session, channel, key and message is freed
// once, on every path. Only the files of sftp/ include libssh.
#pragma once

#include <libssh/libssh.h>
#include <libssh/server.h>

#include <memory>
#include <type_traits>

namespace corvel::sftp {

struct SshBindFree {
    void operator()(ssh_bind bind) const { ssh_bind_free(bind); }
};
struct SshSessionFree {
    void operator()(ssh_session session) const { ssh_free(session); }
};
struct SshChannelFree {
    void operator()(ssh_channel channel) const { ssh_channel_free(channel); }
};
struct SshKeyFree {
    void operator()(ssh_key key) const { ssh_key_free(key); }
};
struct SshMessageFree {
    void operator()(ssh_message message) const { ssh_message_free(message); }
};
struct SshTextFree {
    void operator()(char* text) const { ssh_string_free_char(text); }
};
struct SshHashFree {
    void operator()(unsigned char* hash) const { ssh_clean_pubkey_hash(&hash); }
};

using SshBind = std::unique_ptr<std::remove_pointer_t<ssh_bind>, SshBindFree>;
using SshSession = std::unique_ptr<std::remove_pointer_t<ssh_session>, SshSessionFree>;
using SshChannel = std::unique_ptr<std::remove_pointer_t<ssh_channel>, SshChannelFree>;
using SshKey = std::unique_ptr<std::remove_pointer_t<ssh_key>, SshKeyFree>;
using SshMessage = std::unique_ptr<std::remove_pointer_t<ssh_message>, SshMessageFree>;
using SshText = std::unique_ptr<char, SshTextFree>;
using SshHash = std::unique_ptr<unsigned char, SshHashFree>;

}  // namespace corvel::sftp
