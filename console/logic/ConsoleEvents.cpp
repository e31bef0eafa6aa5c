#include "console/logic/ConsoleEvents.h"

#include <chrono>
#include <thread>

#include "common/NamedObjectNames.h"

namespace corvel {

ConsoleEvents::ConsoleEvents()
    : existence_(NamedEvent::createOrOpen(names::kExistenceEvent)),
      stop_(NamedEvent::createOrOpen(names::kStopEvent)),
      pop_(NamedEvent::createOrOpen(names::kPopEvent)) {}

bool ConsoleEvents::serverSignalled() { return existence_ && existence_->wait(kProbeWaitMs); }

bool ConsoleEvents::raiseRequested() { return pop_ && pop_->wait(kProbeWaitMs); }

bool ConsoleEvents::signalStop() { return stop_ && stop_->signal(); }

void ConsoleEvents::discardPendingStop() {
    if (stop_) (void)stop_->wait(0);
}

void ConsoleEvents::pause(int milliseconds) {
    // The console's pauses block its one thread on purpose, as its waits for children do.
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace corvel
