// The SFTP port's protocol set-up (host keys, algorithms) and the serving of its
// accepted connections. The SSH library is used in sftp/ alone: nothing of it shows
// in this header.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Socket.h"
#include "sftp/SftpContext.h"

namespace corvel {

class LogSink;

// Set up once per run; serve() is called from many connection threads at once.
class SftpEndpoint {
public:
    SftpEndpoint();
    ~SftpEndpoint();
    SftpEndpoint(const SftpEndpoint&) = delete;
    SftpEndpoint& operator=(const SftpEndpoint&) = delete;

    // Loads the host keys: the files of hostKeyFiles (from <sftphostkey>; relative
    // ones in the program directory, which ends with '/'), which must all be there and
    // readable and are never written; or, when it is empty, the two made keys of the
    // program directory, making those that are not there. Logs their fingerprints and
    // sets the algorithms. false, with *error, when a key can be neither made nor read.
    bool prepare(const std::string& programDirectory, const std::vector<std::string>& hostKeyFiles, LogSink& log,
                 std::string* error);
    // The host keys' SHA-256 fingerprints, "ssh-ed25519 SHA256:..." and "ssh-rsa SHA256:...".
    const std::vector<std::string>& fingerprints() const { return fingerprints_; }

    // Serves one accepted connection on the calling thread until it ends. client is
    // the address a trusted balancer's PROXY header named, which then stands for the
    // peer everywhere (policy, bans, limits, logs); nullopt: the socket's own peer.
    void serve(Socket socket, const SftpContext& context, std::optional<std::string> client = std::nullopt) const;

private:
    struct State;
    std::unique_ptr<State> state_;
    std::vector<std::string> fingerprints_;
};

}  // namespace corvel
