#include "sonix/firmware_catalogue.h"

#include <utility>

FirmwareCatalogue& FirmwareCatalogue::instance() {
    // Made on first use, gone when the module is unloaded.
    static FirmwareCatalogue catalogue;
    return catalogue;
}

FirmwareCatalogue::Contents FirmwareCatalogue::contents() const {
    std::lock_guard lock(mutex);
    return current;
}

void FirmwareCatalogue::replace(Contents contents) {
    Contents previous;
    {
        std::lock_guard lock(mutex);
        previous = std::exchange(current, std::move(contents));
    }
    // The old provider is released outside the lock: its destruction may run caller code.
}
