// Fuzzes the FTP command reader and dispatcher: the input is the client's byte
// stream on the control connection of one session.
//
// Set-up, once: a scratch program directory with a users file holding "fuzz"
// (password "fuzzpw", all privileges 0x7001F, its own home) and an enabled
// anonymous account, and the default (admit-all) access policy.
// Per input: the home is reset to a fixed small tree; if the first byte is odd,
// "USER fuzz\r\nPASS fuzzpw\r\n" is put in front so logged-in commands run at once;
// if its second bit is set, the session runs with <ftpext> on.
// Data connections never wait: passive mode is off, so PASV answers 425 at once,
// and every "port" (any case) is rewritten to "p0rt", because a socket pair
// reports its peer as 0.0.0.0 and PORT would then connect to this host. Without a
// data connection LIST/NLST/RETR/STOR/APPE answer 425 at once.
// STOR and APPE retry a failed file creation five times 200 ms apart (a name in a
// missing folder, say); this binary's nanosleep returns at once, so those retries
// cost nothing here (libFuzzer's own timer sleeps inside libc, unaffected).
#include <time.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "accounts/AccessPolicy.h"
#include "accounts/LoginGuard.h"
#include "accounts/UserTable.h"
#include "common/PasswordDigest.h"
#include "ftp/FtpContext.h"
#include "ftp/FtpSession.h"

namespace corvel::fuzzing {
namespace {

// A session that read this many commands has done enough for one input.
constexpr int kMaxCommandsPerInput = 4096;

struct FtpFixture {
    ScratchDirectory dir;
    std::string home = dir.file("home");
    UserTable users{dir.directory()};
    AccessPolicy policy{dir.directory()};
    std::atomic<int> active{0};
    LoginGuard logins{nullptr, std::chrono::milliseconds(0)};
    FtpContext context{.users = users,
                       .policy = policy,
                       .activeConnections = active,
                       .logins = logins,
                       .maxConnections = 8,
                       .passiveMode = false,
                       .welcomeMessage = "fuzz"};
    // The same with <ftpext> on: FEAT, MLSD, MLST, MDTM, MFMT, OPTS, EPSV, EPRT and the
    // names-only NLST. EPRT, like PORT, connects only to the peer, and a socket pair
    // has no address to connect to.
    FtpContext extended{.users = users,
                        .policy = policy,
                        .activeConnections = active,
                        .logins = logins,
                        .maxConnections = 8,
                        .passiveMode = false,
                        .welcomeMessage = "fuzz",
                        .ftpExtensions = true};

    FtpFixture() {
        std::error_code ignored;
        std::filesystem::create_directory(dir.file("anonymous"), ignored);
        writeFile(dir.file("anonymous/readme.txt"), "anonymous file\n");
        writeFile(dir.file("ftpusers.xml"),
                  "<users>"
                  "<user username=\"fuzz\" password=\"" + passwordDigest("fuzzpw") +
                      "\" alias=\"f\" privilege=\"458783\" work_dir=\"" + home +
                      "\" welcome_msg=\"hi\" disabled=\"no\"/>"
                      "<user username=\"anonymous\" password=\"anonymous\" alias=\"anonymous\" "
                      "privilege=\"131074\" work_dir=\"" + dir.file("anonymous") +
                      "\" welcome_msg=\"anon\" disabled=\"no\"/>"
                      "</users>");
        users.load();
        policy.load();
    }
};

FtpFixture& fixture() {
    static FtpFixture instance;
    return instance;
}

}  // namespace
}  // namespace corvel::fuzzing

// Replaces the C library's nanosleep for this binary: std::this_thread::sleep_for
// calls it, and the creation retries would make a run take a second.
extern "C" int nanosleep(const struct timespec*, struct timespec* remaining) {
    if (remaining) *remaining = timespec{};
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace corvel;
    using namespace corvel::fuzzing;
    if (size == 0 || size > FedSocketPair::kMaxInputBytes) return 0;
    FtpFixture& f = fixture();
    resetTree(f.home);

    std::string input;
    if (data[0] & 1) input = "USER fuzz\r\nPASS fuzzpw\r\n";
    input.append(reinterpret_cast<const char*>(data) + 1, size - 1);
    input = neutralisePort(std::move(input));

    FedSocketPair pair(std::move(input));
    {
        FtpSession session(pair.takeServer(), (data[0] & 2) ? f.extended : f.context);
        check(session.isOpen(), "the access policy admits the socket pair");
        for (int i = 0; i < kMaxCommandsPerInput && session.readCommand(); ++i) {
        }
    }  // the session closes its socket here, which ends the feeder's read
    (void)pair.finish();
    return 0;
}
