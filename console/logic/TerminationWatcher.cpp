#include "console/logic/TerminationWatcher.h"

#include <utility>

#include <QSocketNotifier>

namespace corvel {

TerminationWatcher::TerminationWatcher(std::function<void()> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
    if (!signals_.isActive()) return;
    notifier_ = new QSocketNotifier(signals_.readableDescriptor(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { drain(); });
}

TerminationWatcher::~TerminationWatcher() = default;

void TerminationWatcher::drain() {
    signals_.drain();
    if (onSignal_) onSignal_();
}

}  // namespace corvel
