// Test helper that pokes the named objects from outside the server:
//   signal NAME | wait NAME MS | count NAME SECONDS | set-control BITS | hold NAME SECONDS
// Exit status 0 on success (for wait: signalled), 1 otherwise; count prints a number.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "common/NamedObjectNames.h"
#include "common/SharedBlocks.h"
#include "platform/NamedObjects.h"

using namespace corvel;

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const std::string verb = argv[1], name = argv[2];
    if (verb == "signal") {
        auto event = NamedEvent::createOrOpen(name);
        return event && event->signal() ? 0 : 1;
    }
    if (verb == "wait" && argc > 3) {
        auto event = NamedEvent::createOrOpen(name);
        return event && event->wait(std::atoi(argv[3])) ? 0 : 1;
    }
    if (verb == "count" && argc > 3) {
        auto event = NamedEvent::createOrOpen(name);
        if (!event) return 1;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(int(std::atof(argv[3]) * 1000));
        int count = 0;
        while (std::chrono::steady_clock::now() < end)
            if (event->wait(50)) ++count;
        std::printf("%d\n", count);
        return 0;
    }
    if (verb == "set-control") {
        auto mutex = NamedMutex::openExisting(names::kControlMutex);
        auto block = SharedBlock::openExisting(names::kControlBlock, kControlBlockSize);
        if (!mutex || !block) return 1;
        NamedMutexLock lock(*mutex, kBlockMutexWaitMs);
        if (!lock.ownsLock()) return 1;
        writeControlWord(block->data(), readControlWord(block->data()) | std::uint32_t(std::strtoul(argv[2], nullptr, 0)));
        return 0;
    }
    if (verb == "read-control") {
        auto block = SharedBlock::openExisting(names::kControlBlock, kControlBlockSize);
        if (!block) return 1;
        std::printf("%u\n", readControlWord(block->data()));
        return 0;
    }
    if (verb == "hold" && argc > 3) {
        auto mutex = NamedMutex::createOrOpen(name);
        if (!mutex) return 1;
        NamedMutexLock lock(*mutex, 5000);
        if (!lock.ownsLock()) return 1;
        std::printf("held\n");
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(int(std::atof(argv[3]) * 1000)));
        return 0;
    }
    return 2;
}
