// Test helper that rewrites ftpusers.xml the way the console does, many times over:
//   users_file_writer PROGRAM_DIR HOME ROUNDS
// Round r (from 0) saves a document with r + 1 accounts u0..u<r> (password "pw",
// home HOME) through UsersFile under the users-file mutex, then prints "r\n".
// The tests kill it with SIGKILL at random moments. Exit status 0 when every round
// was saved, 1 when one failed.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/UsersFile.h"
#include "common/PasswordDigest.h"

using namespace corvel;

namespace {

// How long one round waits for the users-file mutex before it counts as failed.
constexpr int kMutexWaitMs = 10000;

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    const std::string programDirectory = argv[1], home = argv[2];
    const int rounds = std::atoi(argv[3]);
    const std::string path = programDirectory + "/ftpusers.xml";
    const std::string digest = passwordDigest("pw");
    for (int round = 0; round < rounds; ++round) {
        std::vector<UserAccount> accounts;
        for (int i = 0; i <= round; ++i) {
            // Padding makes each save bigger than the last, so a torn write would show.
            accounts.push_back(UserAccount{"u" + std::to_string(i), digest, "", home, std::string(64 + i, 'w'),
                                           458783, false, -1});
        }
        UsersFile file = UsersFile::empty();
        file.replaceAccounts(accounts);
        {
            UsersFileLock lock(kMutexWaitMs);
            if (!lock.held() || !file.save(path)) return 1;
        }
        std::printf("%d\n", round);
        std::fflush(stdout);
    }
    return 0;
}
