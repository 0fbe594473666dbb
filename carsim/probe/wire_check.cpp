#include "carsim/probe/wire_check.h"

#include <algorithm>
#include <cauchy.h>
#include <cstdlib>
#include <cstring>
#include <jerasure.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

namespace wirecheck {

std::optional<WirePacket> parseWire(const Bytes& d) {
    if (d.size() < 16) {
        return std::nullopt;
    }
    auto u16 = [&](size_t at) { return static_cast<uint16_t>(d[at] << 8 | d[at + 1]); };
    WirePacket p;
    p.frame = u16(0);
    p.index = u16(2);
    p.k = u16(4);
    p.m = u16(6);
    p.shard = u16(8);
    p.length = u16(10);
    p.frameLength = static_cast<uint32_t>(d[12]) << 24 | static_cast<uint32_t>(d[13]) << 16 |
                    static_cast<uint32_t>(d[14]) << 8 | d[15];
    p.payload.assign(d.begin() + 16, d.end());
    if (p.payload.size() != p.length) {
        return std::nullopt;
    }
    return p;
}

std::optional<Bytes> rebuildFrame(const std::vector<WirePacket>& packets) {
    if (packets.empty()) {
        return std::nullopt;
    }
    const int k = packets[0].k, m = packets[0].m, shard = packets[0].shard;
    if (k == 0 || k + m > 256 || static_cast<int>(packets.size()) < k) {
        return std::nullopt;
    }
    const int block = (shard + 15) / 16 * 16;
    std::vector<char> buffer(static_cast<size_t>(k + m) * block, 0);
    std::vector<bool> present(static_cast<size_t>(k + m), false);
    for (const WirePacket& p : packets) {
        if (p.index >= k + m || p.payload.size() > static_cast<size_t>(shard)) {
            return std::nullopt;
        }
        std::memcpy(buffer.data() + static_cast<size_t>(p.index) * block, p.payload.data(),
                    p.payload.size());
        present[p.index] = true;
    }
    std::vector<int> erasures;
    for (int i = 0; i < k + m; ++i) {
        if (!present[static_cast<size_t>(i)]) {
            erasures.push_back(i);
        }
    }
    erasures.push_back(-1);
    std::vector<char*> data, coding;
    for (int i = 0; i < k; ++i) {
        data.push_back(buffer.data() + static_cast<size_t>(i) * block);
    }
    for (int j = 0; j < m; ++j) {
        coding.push_back(buffer.data() + static_cast<size_t>(k + j) * block);
    }
    if (erasures.size() > 1) {
        int* matrix = cauchy_original_coding_matrix(k, m, 8);
        const int result = jerasure_matrix_decode(k, m, 8, matrix, 0, erasures.data(), data.data(),
                                                  coding.data(), block);
        std::free(matrix);
        if (result != 0) {
            return std::nullopt;
        }
    }
    Bytes frame;
    size_t remaining = packets[0].frameLength;
    for (int i = 0; i < k && remaining > 0; ++i) {
        const size_t n = std::min(remaining, static_cast<size_t>(shard));
        frame.insert(frame.end(), data[static_cast<size_t>(i)], data[static_cast<size_t>(i)] + n);
        remaining -= n;
    }
    return frame;
}

std::map<uint16_t, std::vector<WirePacket>> groupByFrame(const std::vector<Bytes>& datagrams,
                                                         const std::set<int>& erase) {
    std::map<uint16_t, std::vector<WirePacket>> frames;
    for (const Bytes& d : datagrams) {
        auto p = parseWire(d);
        if (p && !erase.count(p->index)) {
            frames[p->frame].push_back(std::move(*p));
        }
    }
    return frames;
}

std::vector<Bytes> cutAtLongStartCodes(const Bytes& d) {
    std::vector<Bytes> nals;
    const size_t n = d.size();
    auto isStart = [&](size_t p) {
        return p + 4 <= n && d[p] == 0 && d[p + 1] == 0 && d[p + 2] == 0 && d[p + 3] == 1;
    };
    size_t p = 0;
    while (n > 4 && p < n - 4) {
        if (!isStart(p)) {
            ++p;
            continue;
        }
        const size_t s = p + 4;
        size_t q = s;
        while (q < n - 4 && !isStart(q)) {
            ++q;
        }
        if (q >= n - 4) {
            q = n;
        }
        nals.emplace_back(d.begin() + static_cast<ptrdiff_t>(s),
                          d.begin() + static_cast<ptrdiff_t>(q));
        p = q;
    }
    return nals;
}

Bytes decoderInput(const Bytes& frame, bool slicesHaveTrailers) {
    Bytes out;
    for (Bytes nal : cutAtLongStartCodes(frame)) {
        const int type = nal.empty() ? 0 : nal[0] & 0x1F;
        if (slicesHaveTrailers && (type == 1 || type == 5) && nal.size() > 32) {
            nal.resize(nal.size() - 32);
        }
        out.insert(out.end(), {0, 0, 0, 1});
        out.insert(out.end(), nal.begin(), nal.end());
    }
    return out;
}

Decoder::Decoder() {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext* context = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (context == nullptr) {
        return;
    }
    context->thread_count = 1;
    if (avcodec_open2(context, codec, nullptr) < 0) {
        avcodec_free_context(&context);
        return;
    }
    context_ = context;
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
}

Decoder::~Decoder() {
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    avcodec_free_context(&context_);
}

std::vector<Picture> Decoder::decode(const Bytes& accessUnit) {
    std::vector<Picture> pictures;
    if (av_new_packet(packet_, static_cast<int>(accessUnit.size())) < 0) {
        return pictures;
    }
    std::memcpy(packet_->data, accessUnit.data(), accessUnit.size());
    if (avcodec_send_packet(context_, packet_) < 0) {
        ++errors;
    }
    av_packet_unref(packet_);
    while (avcodec_receive_frame(context_, frame_) == 0) {
        Picture p;
        p.width = frame_->width;
        p.height = frame_->height;
        p.frameRateNum = context_->framerate.num;
        p.frameRateDen = context_->framerate.den;
#ifdef AV_FRAME_FLAG_KEY
        p.key = (frame_->flags & AV_FRAME_FLAG_KEY) != 0;
#else
        p.key = frame_->key_frame != 0;
#endif
        auto copy = [&](int plane, int w, int h) {
            Bytes out;
            for (int row = 0; row < h; ++row) {
                const uint8_t* line =
                    frame_->data[plane] + static_cast<ptrdiff_t>(row) * frame_->linesize[plane];
                out.insert(out.end(), line, line + w);
            }
            return out;
        };
        p.y = copy(0, p.width, p.height);
        p.u = copy(1, (p.width + 1) / 2, (p.height + 1) / 2);
        p.v = copy(2, (p.width + 1) / 2, (p.height + 1) / 2);
        pictures.push_back(std::move(p));
        av_frame_unref(frame_);
    }
    return pictures;
}

Rgb pixelRgb(const Picture& picture, int x, int y) {
    const int cw = (picture.width + 1) / 2;
    const double luma = 1.164 * (picture.y[static_cast<size_t>(y) * picture.width + x] - 16);
    const double u = picture.u[static_cast<size_t>(y / 2) * cw + x / 2] - 128;
    const double v = picture.v[static_cast<size_t>(y / 2) * cw + x / 2] - 128;
    return {static_cast<int>(luma + 1.596 * v), static_cast<int>(luma - 0.392 * u - 0.813 * v),
            static_cast<int>(luma + 2.017 * u)};
}

} // namespace wirecheck
