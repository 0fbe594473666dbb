// zebhost --record: the clip read back with libavformat and decoded with libavcodec.
#include <memory>

#include <gtest/gtest.h>

#include "zebhost_process.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr uint32_t kRed = rgba(255, 0, 0, 255); // what the fake module's source 0 draws

// What a clip holds: its video stream and the centre pixel of each picture decoded from it.
struct Clip {
    int streams = 0;
    AVCodecID codec = AV_CODEC_ID_NONE;
    int width = 0;
    int height = 0;
    AVRational frameRate{0, 1};
    std::vector<double> seconds; // each packet's presentation time
    std::vector<uint32_t> centres;
};

// Reads and decodes the whole file; fails the test when libavformat cannot open it.
Clip readClip(const std::string& path) {
    Clip clip;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) != 0) {
        ADD_FAILURE() << "libavformat cannot open " << path;
        return clip;
    }
    std::unique_ptr<AVFormatContext*, void (*)(AVFormatContext**)> closeFormat(
        &format, avformat_close_input);
    if (avformat_find_stream_info(format, nullptr) < 0) {
        ADD_FAILURE() << "no stream information";
        return clip;
    }
    clip.streams = static_cast<int>(format->nb_streams);
    const AVStream* stream = format->streams[0];
    clip.codec = stream->codecpar->codec_id;
    clip.width = stream->codecpar->width;
    clip.height = stream->codecpar->height;
    clip.frameRate = stream->avg_frame_rate;

    const AVCodec* codec = avcodec_find_decoder(clip.codec);
    AVCodecContext* decoder = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(decoder, stream->codecpar);
    EXPECT_EQ(avcodec_open2(decoder, codec, nullptr), 0);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::vector<uint8_t> picture;
    const auto takePictures = [&] {
        while (avcodec_receive_frame(decoder, frame) == 0) {
            SwsContext* scaler = sws_getContext(
                frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                frame->width, frame->height, AV_PIX_FMT_RGBA, SWS_POINT, nullptr, nullptr, nullptr);
            picture.resize(size_t{4} * frame->width * frame->height);
            uint8_t* const planes[4] = {picture.data()};
            const int pitches[4] = {4 * frame->width};
            sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, planes, pitches);
            sws_freeContext(scaler);
            const uint8_t* p = &picture[(size_t{1} * frame->height / 2 * frame->width +
                                         static_cast<size_t>(frame->width) / 2) *
                                        4];
            clip.centres.push_back(rgba(p[0], p[1], p[2], p[3]));
        }
    };
    while (av_read_frame(format, packet) == 0) {
        if (packet->stream_index == 0) {
            clip.seconds.push_back(static_cast<double>(packet->pts) * av_q2d(stream->time_base));
            avcodec_send_packet(decoder, packet);
            takePictures();
        }
        av_packet_unref(packet);
    }
    avcodec_send_packet(decoder, nullptr);
    takePictures();
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    return clip;
}

// Within the encoder's loss on a flat colour.
bool near(uint32_t pixel, uint32_t want) {
    for (int shift = 0; shift < 32; shift += 8) {
        const int a = static_cast<int>(pixel >> shift & 0xFF);
        const int b = static_cast<int>(want >> shift & 0xFF);
        if (std::abs(a - b) > 12) {
            return false;
        }
    }
    return true;
}

TEST(RecordTest, TheClipHoldsEveryFrameSourceZeroRenderedAtTheRenderRate) {
    TempDir dir;
    const std::string path = dir / "clip.mp4";
    Zebhost zebhost({"--module", FAKE_MODULE_PATH, "--config-dir", dir.path(), "--sources", "2",
                     "--seconds", "1.5", "--fps", "8", "--record", path});
    ASSERT_EQ(zebhost.wait(), 0) << zebhost.err();
    EXPECT_NE(zebhost.err().find("zebhost: recorded 12 frames to " + path), std::string::npos)
        << zebhost.err();
    const Clip clip = readClip(path);
    EXPECT_EQ(clip.streams, 1);
    EXPECT_EQ(clip.codec, AV_CODEC_ID_H264);
    EXPECT_EQ(clip.width, 1280);
    EXPECT_EQ(clip.height, 720);
    EXPECT_EQ(av_cmp_q(clip.frameRate, AVRational{8, 1}), 0)
        << clip.frameRate.num << "/" << clip.frameRate.den;
    ASSERT_EQ(clip.seconds.size(), 12u);
    for (size_t i = 0; i < clip.seconds.size(); ++i) {
        EXPECT_NEAR(clip.seconds[i], static_cast<double>(i) / 8, 1e-6) << i;
    }
    // Source 0 fills red, source 1 green.
    ASSERT_EQ(clip.centres.size(), 12u);
    for (uint32_t centre : clip.centres) {
        EXPECT_TRUE(near(centre, kRed)) << std::hex << centre;
    }
}

// The summary comes first in both; a run whose clip failed must not look like a success.
TEST(RecordTest, AClipThatCannotBeWrittenOrASourceZeroThatFailedEndsWithItsOwnStatus) {
    TempDir dir;
    const std::string path = dir / "clip.mp4";
    const struct {
        const char* name;
        Env env;
        rlim_t fileSizeLimit; // the clip outgrows 2 KB long before its index is written
        int status;
        std::string err;
        bool created;
    } cases[] = {
        {"file full", {}, 2048, 4, "zebhost: recording " + path + " failed: ", true},
        {"no source 0", {{"FAKE_MODULE_FAIL_CREATE", "0"}}, 0, 3, "recorded 0 frames", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Zebhost zebhost({"--module", FAKE_MODULE_PATH, "--config-dir", dir.path(), "--seconds", "1",
                         "--fps", "10", "--record", path},
                        c.env, c.fileSizeLimit);
        EXPECT_EQ(zebhost.wait(), c.status) << zebhost.err();
        EXPECT_NE(zebhost.err().find(c.err), std::string::npos) << zebhost.err();
        EXPECT_EQ(zebhost.out().rfind(std::string("{\"source\":0,\"created\":") +
                                          (c.created ? "true" : "false"),
                                      0),
                  0u)
            << zebhost.out();
    }
}

} // namespace
