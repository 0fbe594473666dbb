// One instance of the "drivon" source: decoder, picture queue, textures and the device thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "client/drivon.h"
#include "source/frame_decoder.h"
#include "source/pass_over_list.h"
#include "source/picture_observer.h"
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

    // Whether the instance runs its device session loop. Tests of decoding and drawing turn it
    // off and set the state themselves.
    enum class SessionLoop { Run, Off };

    // Builds the instance and starts its device thread; null when the decoder cannot be set
    // up or the thread cannot be started, with nothing left behind.
    static std::unique_ptr<DrivonClient> create(zeb_data_t* settings, zeb_source_t* source,
                                                zeb_module_t* module,
                                                SessionLoop loop = SessionLoop::Run) noexcept;
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

    // Measurements only: reports each picture by its access unit's timestamp. The observer must
    // outlive the instance (or be replaced by null before it goes and no frame is in flight).
    void setPictureObserver(PictureObserver* watcher) noexcept { observer.store(watcher); }

    SourceState currentState() const noexcept { return state.load(); }
    size_t queuedPictureCount() const { return pictures.size(); }
    // Only the device thread moves the state; tests without it use this to reach the others.
    void setStateForTesting(SourceState newState) noexcept { state.store(newState); }

private:
    DrivonClient(zeb_data_t* settings, zeb_source_t* source,
                 std::unique_ptr<FrameDecoder> decoder) noexcept;

    // The device thread's body: scan, claim, link, connect, watch, and start over, for the
    // instance's whole life (device_loop.cpp).
    void deviceLoop() noexcept;
    void runOneCycle();
    // After a failed link creation or connect: the claim is given back, then a short pause.
    void releaseAndPause(const std::string& name);

    [[maybe_unused]] zeb_data_t* settings; // kept for the host's sake, never read
    [[maybe_unused]] zeb_source_t* source; // kept for the host's sake, never read
    // Written by the device thread only; released at teardown once that thread has ended.
    std::unique_ptr<Drivon> link;
    std::unique_ptr<FrameDecoder> decoder;
    PictureQueue pictures;
    // The buffer the next picture is converted into; only the thread that delivers frames
    // (one at a time) touches it.
    std::vector<uint8_t> nextPicture;
    std::unique_ptr<SourceTextures> textures;
    PassOverList passedOver; // device thread only

    std::thread deviceThread;
    std::atomic<bool> running{false};
    std::atomic<bool> active{false};
    std::atomic<bool> hidden{false};
    std::atomic<SourceState> state{SourceState::Scanning};
    std::atomic<PictureObserver*> observer{nullptr}; // null in the product
};
