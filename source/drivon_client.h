// One instance of the "drivon" source: decoder, picture queue, textures and the device thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "client/drivon.h"
#include "source/frame_decoder.h"
#include "source/picture_queue.h"
#include "source/source_state.h"
#include "source/source_textures.h"
#include "zeb/zeb.h"

// Final and never deleted through its interface (whose destructor is protected), so a
// non-virtual destructor is safe here.
// NOLINTNEXTLINE(cppcoreguidelines-virtual-class-destructor)
class DrivonClient final : public Drivon::DrivonClientInterface {
public:
    // Packed colours (bytes R, G, B, A from the lowest) of the fill shown while no video flows.
    static constexpr uint32_t kScanningColour = 0xFF909090;   // opaque mid grey
    static constexpr uint32_t kConnectingColour = 0xFFFF0000; // opaque blue

    // Builds the instance and starts its device thread; null when the decoder cannot be set
    // up or the thread cannot be started, with nothing left behind.
    static std::unique_ptr<DrivonClient> create(zeb_data_t* settings, zeb_source_t* source,
                                                zeb_module_t* module) noexcept;
    // Teardown: stops and joins the device thread, then releases queue, decoder and textures.
    ~DrivonClient();
    DrivonClient(const DrivonClient&) = delete;
    DrivonClient& operator=(const DrivonClient&) = delete;

    // Host activate/deactivate and hide/show; each change empties the picture queue.
    void setActive(bool flag) noexcept;
    void setHidden(bool flag) noexcept;

    // Decodes on the caller's (the device client's) thread; queues the picture while the
    // source is active and visible.
    void onVideoFrame(int32_t frameNumber, int64_t timestamp,
                      const std::vector<uint8_t>& accessUnit) noexcept override;

    // Host render callback body (graphics thread, inside the graphics context).
    void render() noexcept;

    SourceState currentState() const noexcept { return state.load(); }
    size_t queuedPictureCount() const { return pictures.size(); }
    // Only the device thread moves the state; tests use this to reach the other states.
    void setStateForTesting(SourceState newState) noexcept { state.store(newState); }

private:
    DrivonClient(zeb_data_t* settings, zeb_source_t* source,
                 std::unique_ptr<FrameDecoder> decoder) noexcept;

    // Device thread body until the device session loop replaces it: it holds the thread's
    // place in the instance's lifecycle and ends as soon as teardown begins.
    void waitForTeardown() noexcept;

    [[maybe_unused]] zeb_data_t* settings; // kept for the host's sake, never read
    [[maybe_unused]] zeb_source_t* source; // kept for the host's sake, never read
    std::unique_ptr<FrameDecoder> decoder;
    PictureQueue pictures;
    std::unique_ptr<SourceTextures> textures;

    std::mutex teardownMutex;
    std::condition_variable teardownSignal; // notified once running turns false
    std::thread deviceThread;
    std::atomic<bool> running{false};
    std::atomic<bool> active{false};
    std::atomic<bool> hidden{false};
    std::atomic<SourceState> state{SourceState::Scanning};
};
