// One SSH connection of the SFTP port, once libssh holds its socket: the key
// exchange, the sign-in, the one session channel and its sftp subsystem.
#pragma once

#include <chrono>
#include <string>

#include "accounts/LiveSessions.h"
#include "sftp/SftpContext.h"
#include "sftp/SshHandles.h"

namespace corvel {
class SessionPlace;
}

namespace corvel::sftp {

// SECURITY: a connection that has not signed in within this time, or after this
// many attempts, is closed, as OpenSSH's LoginGraceTime and MaxAuthTries do.
constexpr std::chrono::seconds kSignInTime{30};
constexpr int kMaxSignInAttempts = 6;

// Runs the connection on the calling thread until it ends; session is already
// accepted on its socket. peer is the client's address; place, when given, its
// place among the address's sessions, marked once it signed in; listed, when given,
// its row of the live sessions, which gets the account once it signed in.
void runSshConnection(ssh_session session, const SftpContext& context, const std::string& peer, SessionPlace* place,
                      LiveSessions::Entry* listed);

}  // namespace corvel::sftp
