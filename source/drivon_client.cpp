#include "source/drivon_client.h"

#include <exception>
#include <new>

std::unique_ptr<DrivonClient> DrivonClient::create(zeb_data_t* settings, zeb_source_t* source,
                                                   zeb_module_t* module,
                                                   SessionLoop loop) noexcept {
    std::unique_ptr<FrameDecoder> decoder = FrameDecoder::create();
    if (!decoder) {
        return nullptr;
    }
    std::unique_ptr<DrivonClient> client(new (std::nothrow)
                                             DrivonClient(settings, source, std::move(decoder)));
    if (!client) {
        return nullptr;
    }
    client->textures.reset(new (std::nothrow) SourceTextures(module));
    if (!client->textures) {
        return nullptr;
    }
    client->running = true;
    if (loop == SessionLoop::Off) {
        return client;
    }
    try {
        client->deviceThread = std::thread(&DrivonClient::deviceLoop, client.get());
    } catch (const std::exception&) {
        return nullptr; // the destructor releases decoder and textures
    }
    return client;
}

DrivonClient::DrivonClient(zeb_data_t* settings, zeb_source_t* source,
                           std::unique_ptr<FrameDecoder> decoder) noexcept
    : settings(settings), source(source), decoder(std::move(decoder)) {}

DrivonClient::~DrivonClient() {
    // The loop sees this within one 50 ms pause, disconnects and gives its claim back; a scan
    // or connect attempt in progress runs to its end first.
    running = false;
    if (deviceThread.joinable()) {
        deviceThread.join();
    }
    // The thread has ended and the link is disconnected, so no frame is being delivered while
    // these go.
    pictures.clear();
    decoder.reset();
    link.reset();
    textures.reset();
}

void DrivonClient::setActive(bool flag) noexcept {
    active = flag;
    pictures.clear();
}

void DrivonClient::setHidden(bool flag) noexcept {
    hidden = flag;
    pictures.clear();
}

void DrivonClient::onVideoFrame(int32_t /*frameNumber*/, int64_t timestamp,
                                const std::vector<uint8_t>& accessUnit) noexcept {
    try {
        PictureObserver* const watcher = observer.load();
        if (watcher) {
            watcher->onFrameArrived(timestamp, accessUnit);
        }
        // Decoded whatever the flags say, so the decoder's reference pictures stay current.
        // Converted straight into a buffer the renderer handed back, and moved into the queue:
        // a picture is written once and never copied on its way to the texture.
        if (nextPicture.empty()) {
            nextPicture = pictures.takeSpare();
        }
        if (!decoder->decodeFrame(accessUnit, nextPicture)) {
            return;
        }
        // The flags are read under the queue's lock: a hide or deactivate that lands while
        // this picture was decoded must not find it queued afterwards.
        const auto wanted = [this] { return active && !hidden; };
        const PictureQueue::PushResult pushed = pictures.push(nextPicture, wanted, timestamp);
        if (pushed == PictureQueue::PushResult::Cleared) {
            blog(LOG_DEBUG, "[drivon] Buffered too many frames, clearing\n");
        } else if (pushed == PictureQueue::PushResult::Queued && watcher) {
            watcher->onPictureQueued(timestamp);
        }
    } catch (const std::bad_alloc&) {
        // Out of memory for a picture: this one is dropped, the next may fit.
    }
}

void DrivonClient::render() noexcept {
    try {
        switch (state.load()) {
        case SourceState::Scanning:
            textures->drawFill(kScanningColour);
            break;
        case SourceState::Connecting:
            textures->drawFill(kConnectingColour);
            break;
        case SourceState::Streaming: {
            // At most one picture per call; with none queued the texture shows the last one.
            int64_t timestamp = 0;
            if (std::optional<std::vector<uint8_t>> picture = pictures.takeFront(&timestamp)) {
                textures->uploadFrame(*picture);
                if (PictureObserver* const watcher = observer.load()) {
                    watcher->onPictureUploaded(timestamp);
                }
                pictures.recycle(std::move(*picture));
            }
            textures->drawFrame();
            break;
        }
        }
        textures->drawLogo();
    } catch (const std::exception&) {
        // Nothing here is expected to throw; the host must never see it if it does.
    }
}
