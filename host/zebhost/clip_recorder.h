// The --record clip: RGBA canvases in, an H.264 MP4 file out (libx264 through libavcodec, the
// container by libavformat), one video frame per rendered frame at the render rate.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct SwsContext;

class ClipRecorder {
public:
    // Opens the encoder and the file and writes the file's header; null with a reason.
    static std::unique_ptr<ClipRecorder> open(const std::string& path, uint32_t width,
                                              uint32_t height, double fps, std::string& error);
    // Frees everything; a clip that was not finished is left incomplete.
    ~ClipRecorder();
    ClipRecorder(const ClipRecorder&) = delete;
    ClipRecorder& operator=(const ClipRecorder&) = delete;

    // Encodes width x height RGBA pixels (rows packed) as the next frame. After the first
    // failure the clip is given up: this and later calls do nothing and return false.
    bool addFrame(const uint8_t* rgba);
    // Drains the encoder and writes the file's index; false if the clip failed at any point.
    bool finish();

    const std::string& error() const { return failure; }
    uint64_t framesAdded() const { return frames; }
    // Time spent in addFrame, converting and encoding, over the whole clip.
    uint64_t encodeNanoseconds() const { return encodeNs; }

private:
    ClipRecorder() = default;
    bool fail(const std::string& what, int code);
    // Writes every packet the encoder has ready.
    bool drainEncoder();

    AVCodecContext* encoder = nullptr;
    AVFormatContext* container = nullptr;
    AVStream* stream = nullptr; // owned by container
    AVFrame* picture = nullptr; // the converted frame handed to the encoder
    AVPacket* packet = nullptr;
    SwsContext* converter = nullptr;
    uint32_t width = 0;
    uint32_t height = 0;
    bool fileOpen = false;
    bool headerWritten = false;
    bool finished = false;
    std::string failure; // empty while the clip is sound
    uint64_t frames = 0;
    uint64_t encodeNs = 0;
};
