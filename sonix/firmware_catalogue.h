// What firmware may be installed on Sonix cars: one catalogue for the whole process. The module
// leaves it empty, so no update is offered; a caller that can supply images fills it.
//
// Components: 1 is the microcontroller, compared with (fwMajor & 0xFF) * 256 + (fwMinor & 0xFF);
// 3 is the video board, compared with the build number of its "fwversion".
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

class FirmwareCatalogue {
public:
    using ImageProvider = std::function<std::vector<uint8_t>(int component)>;

    struct Contents {
        std::map<int, int> availableVersions; // component -> version of the image on offer
        ImageProvider imageProvider;          // the whole image of a component listed above
    };

    static FirmwareCatalogue& instance();

    // A consistent copy: the catalogue may be replaced while an update runs.
    Contents contents() const;
    void replace(Contents contents);
    void clear() { replace({}); }

private:
    FirmwareCatalogue() = default;

    mutable std::mutex mutex;
    Contents current; // guarded by mutex
};
