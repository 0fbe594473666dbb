// What a source instance's device thread is doing; render picks its drawing from it.
#pragma once

#include <cstdint>

enum class SourceState : int32_t {
    Scanning = 0,   // looking for a device, or pausing after an empty scan
    Connecting = 1, // a device is claimed and its client is being connected
    Streaming = 2,  // the device is connected; video may flow
};
