// Firmware of the microcontroller (component 1) and of the video board (component 3): the
// image is announced on the control channel, pushed raw over a second TCP connection to the
// port the car names, then installed.
#include <algorithm>
#include <cstdio>

#include "client/json_read.h"
#include "net/sleep.h"
#include "sonix/firmware_catalogue.h"
#include "sonix/md_video_client_sonix.h"

using nlohmann::json;
using namespace nlohmann::literals;
using Clock = std::chrono::steady_clock;

namespace {
constexpr int kMicrocontroller = 1;
constexpr int kVideoBoard = 3;
// Status codes of "mendrel_fwupdatestatus".
constexpr uint32_t kInstalled = 0;
constexpr uint32_t kInstalling = 1;

// Version texts are bounded: at most 127 characters.
template <typename... Args>
std::string boundedText(const char* format, Args... args) {
    char text[128];
    std::snprintf(text, sizeof(text), format, args...);
    return text;
}

float fractionOf(Clock::duration elapsed, std::chrono::microseconds whole) {
    return static_cast<float>(std::chrono::duration<double>(elapsed) /
                              std::chrono::duration<double>(whole));
}
} // namespace

int MdVideoClientSonix::microcontrollerVersion() const {
    return (fwMajor & 0xFF) * 256 + (fwMinor & 0xFF);
}

bool MdVideoClientSonix::isFirmwareUpdateAvailable() {
    try {
        if (!isConnected()) {
            return false;
        }
        const auto versions = FirmwareCatalogue::instance().contents().availableVersions;
        int videoNumber = -1;
        {
            std::lock_guard lock(configMutex);
            videoNumber = videoFirmwareNumber;
        }
        if (const auto video = versions.find(kVideoBoard);
            video != versions.end() && video->second > videoNumber) {
            return true;
        }
        const auto mcu = versions.find(kMicrocontroller);
        return mcu != versions.end() && mcu->second > microcontrollerVersion();
    } catch (...) {
        return false;
    }
}

std::vector<std::pair<std::string, std::string>> MdVideoClientSonix::getFirmwareVersions() {
    try {
        if (!isConnected()) {
            return {};
        }
        std::string video;
        {
            std::lock_guard lock(configMutex);
            video = videoFirmwareVersion;
        }
        return {{"Video Firmware", boundedText("v%s", video.c_str())},
                {"ECU Firmware", boundedText("v%d.%d", fwMajor.load(), fwMinor.load())}};
    } catch (...) {
        return {};
    }
}

int32_t MdVideoClientSonix::updateFirmware(std::function<void(float)> progress) {
    // The caller's progress function runs on this thread only; an empty one is not called and
    // one that throws does not stop an update half-way.
    const auto report = [&progress](float value) {
        if (!progress) {
            return;
        }
        try {
            progress(value);
        } catch (...) {
        }
    };
    try {
        report(0.0f);
        if (!isConnected()) {
            return -1;
        }
        const FirmwareCatalogue::Contents catalogue = FirmwareCatalogue::instance().contents();
        const auto& versions = catalogue.availableVersions;
        int videoNumber = -1;
        {
            std::lock_guard lock(configMutex);
            videoNumber = videoFirmwareNumber;
        }
        const auto mcuOffer = versions.find(kMicrocontroller);
        const auto videoOffer = versions.find(kVideoBoard);
        const bool mcu = mcuOffer != versions.end() && microcontrollerVersion() < mcuOffer->second;
        const bool video = videoOffer != versions.end() && videoNumber < videoOffer->second;
        if (mcu || video) {
            if (!catalogue.imageProvider) {
                return -1; // a version on offer without an image
            }
            const FirmwareTiming& t = firmwareTiming;
            std::chrono::microseconds total{0};
            if (mcu) {
                total += t.mcuInstall;
            }
            if (video) {
                total += t.videoInstall;
            }
            if (mcu && !video) {
                total += t.mcuOnlyAllowance;
            }
            const float mcuShare = mcu ? fractionOf(t.mcuInstall, total) : 0.0f;
            const float videoShare = fractionOf(t.videoInstall, total);
            if (mcu) {
                if (const int r =
                        updateMicrocontroller(catalogue.imageProvider, report, mcuShare, video);
                    r != 0) {
                    return r;
                }
            }
            if (video) {
                if (const int r =
                        updateVideoBoard(catalogue.imageProvider, report, mcuShare, videoShare);
                    r != 0) {
                    return r;
                }
            }
        }
        report(1.0f);
        return 0;
    } catch (...) {
        firmwareUpdating = false;
        return -1;
    }
}

int MdVideoClientSonix::updateMicrocontroller(const FirmwareCatalogue::ImageProvider& images,
                                              const std::function<void(float)>& report, float share,
                                              bool videoBoardFollows) {
    const FirmwareTiming& t = firmwareTiming;
    const auto start = Clock::now();
    if (const int r = sendFirmwareImage(images(kMicrocontroller)); r != 0) {
        return r;
    }
    bool polled = false;
    Clock::time_point lastPoll;
    // No overall limit: the car's own status ends the wait (or a failed exchange).
    for (;;) {
        if (!polled || Clock::now() - lastPoll > t.statusPoll) {
            polled = true;
            JsonRespStatus status;
            json response;
            sendJsonCommand(R"({"type":"mendrel_fwupdatestatus"})"_json, status, response);
            if (status.code == kInstalled) {
                report(share);
                if (videoBoardFollows) {
                    sleepMs(t.beforeVideoBoardMs);
                }
                return 0;
            }
            if (status.code != kInstalling) {
                return -1;
            }
            lastPoll = Clock::now();
        }
        const auto elapsed = std::min<Clock::duration>(Clock::now() - start, t.mcuInstall);
        report(fractionOf(elapsed, t.mcuInstall) * share);
        sleepMs(t.progressStepMs);
    }
}

int MdVideoClientSonix::updateVideoBoard(const FirmwareCatalogue::ImageProvider& images,
                                         const std::function<void(float)>& report, float mcuShare,
                                         float share) {
    const FirmwareTiming& t = firmwareTiming;
    const auto start = Clock::now();
    report(mcuShare);
    if (const int r = sendFirmwareImage(images(kVideoBoard)); r != 0) {
        return r;
    }
    // The board restarts while it installs: the lost link is expected, not reported, and the
    // car is not asked anything.
    firmwareUpdating = true;
    for (auto elapsed = Clock::now() - start; elapsed < t.videoInstall;
         elapsed = Clock::now() - start) {
        report(fractionOf(elapsed, t.videoInstall) * share + mcuShare);
        sleepMs(t.progressStepMs);
    }
    firmwareUpdating = false;
    // Take down the connection to the restarting car now that the loss may be reported.
    requestStop();
    return 0;
}

int MdVideoClientSonix::sendFirmwareImage(const std::vector<uint8_t>& image) {
    json request = R"({"type":"sendfwbin","fileSize":-1})"_json;
    request["fileSize"] = static_cast<uint64_t>(image.size());
    JsonRespStatus status;
    json response;
    int port = 0;
    if (!sendJsonCommand(request, status, response) ||
        !json_read::readInt(response, "port", port)) {
        return -1;
    }
    // A port outside the TCP range cannot be what the car listens on.
    if (port <= 0 || port > 65535 || pushImage(image, static_cast<uint16_t>(port)) != 0) {
        return -1;
    }
    sleepMs(firmwareTiming.afterImageMs);
    json installed;
    return sendJsonCommand(R"({"type":"upgradefw"})"_json, status, installed) ? 0 : -1;
}

int MdVideoClientSonix::pushImage(const std::vector<uint8_t>& image, uint16_t port) {
    std::shared_ptr<NetManager> manager;
    std::shared_ptr<NetConnection> connection;
    {
        // Under linkMutex, so that a disconnect that has begun sees no new connection appear.
        std::lock_guard lock(linkMutex);
        if (!running || !netManager) {
            return -1;
        }
        manager = netManager;
        connection = manager->createConnection();
    }
    if (!connection) {
        return -1;
    }
    int socket = kInvalidSocket;
    bool sent = connection->open(NetManager::kSocketTcp, port, socket) == 0 &&
                connection->send(NetManager::makePacket(socket, image));
    // Closed in every case: the car sees the end of the image, and a failed transfer leaves no
    // socket registered for the rest of the connection.
    connection->close();
    return sent ? 0 : -1;
}
