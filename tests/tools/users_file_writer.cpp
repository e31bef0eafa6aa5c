// Test helper that rewrites ftpusers.xml the way the console does, many times over:
//   users_file_writer PROGRAM_DIR HOME ROUNDS
// Round r (from 0) saves a document with r + 1 accounts u0..u<r> (password "pw",
// home HOME) through saveAtomically under the users-file mutex, then prints "r\n".
// The tests kill it with SIGKILL at random moments. Exit status 0 when every round
// was saved, 1 when one failed.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <tinyxml.h>

#include "accounts/XmlStore.h"
#include "common/NamedObjectNames.h"
#include "common/PasswordDigest.h"
#include "platform/NamedObjects.h"

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
    auto mutex = NamedMutex::createOrOpen(names::kUsersFileMutex);
    if (!mutex) return 1;
    for (int round = 0; round < rounds; ++round) {
        TiXmlDocument doc;
        auto* root = new TiXmlElement("users");
        doc.LinkEndChild(root);
        for (int i = 0; i <= round; ++i) {
            auto* user = new TiXmlElement("user");
            user->SetAttribute("username", "u" + std::to_string(i));
            user->SetAttribute("password", digest);
            user->SetAttribute("alias", "");
            user->SetAttribute("privilege", "458783");
            user->SetAttribute("work_dir", home);
            // Padding makes each save bigger than the last, so a torn write would show.
            user->SetAttribute("welcome_msg", std::string(64 + i, 'w'));
            user->SetAttribute("disabled", "no");
            root->LinkEndChild(user);
        }
        {
            NamedMutexLock lock(*mutex, kMutexWaitMs);
            if (!lock.ownsLock() || !saveAtomically(doc, path)) return 1;
        }
        std::printf("%d\n", round);
        std::fflush(stdout);
    }
    return 0;
}
