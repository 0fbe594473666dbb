#include "client/video_client_factory.h"

#include <new>

#include "epsilon/md_video_client_epsilon.h"
#include "sonix/md_video_client_sonix.h"

std::unique_ptr<MdVideoClient> createVideoClient(const DiscoveryRecord& record,
                                                 MdVideoClientInterface* listener) {
    switch (record.kind) {
    case kDeviceKindSonix:
        return std::unique_ptr<MdVideoClient>(new (std::nothrow) MdVideoClientSonix(listener));
    case kDeviceKindZoderiv:
        return std::unique_ptr<MdVideoClient>(new (std::nothrow) MdVideoClientEpsilon(listener));
    default:
        return nullptr;
    }
}
