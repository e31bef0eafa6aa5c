// Turns SIGTERM and SIGINT into a call on the UI thread, so that a console ended by
// the system (log-out, kill) leaves the way Exit does: the server is told to stop.
#pragma once

#include <functional>
#include <memory>

#include <QObject>

#include "platform/TerminationSignals.h"

class QSocketNotifier;

namespace corvel {

// At most one instance per process (a signal handler has nowhere else to write to).
// Owned by the UI thread; onSignal runs there, from the event loop.
class TerminationWatcher : public QObject {
public:
    explicit TerminationWatcher(std::function<void()> onSignal, QObject* parent = nullptr);
    ~TerminationWatcher() override;
    TerminationWatcher(const TerminationWatcher&) = delete;
    TerminationWatcher& operator=(const TerminationWatcher&) = delete;

    // false when the handlers could not be installed (the signals then end the process).
    bool isActive() const { return notifier_ != nullptr; }

private:
    void drain();

    std::function<void()> onSignal_;
    TerminationSignals signals_;
    QSocketNotifier* notifier_ = nullptr;  // child of this
};

}  // namespace corvel
