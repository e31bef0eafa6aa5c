#include "console/logic/SingleInstance.h"

#include <utility>

#include "common/NamedObjectNames.h"

namespace corvel {

std::optional<SingleInstance> SingleInstance::claim() {
    bool alreadyExisted = false;
    std::optional<NamedMutex> mutex = NamedMutex::createOrOpen(names::kConsoleMutex, &alreadyExisted);
    if (mutex && alreadyExisted) {
        if (std::optional<NamedEvent> pop = NamedEvent::createOrOpen(names::kPopEvent)) (void)pop->signal();
        return std::nullopt;
    }
    return SingleInstance(std::move(mutex));
}

}  // namespace corvel
