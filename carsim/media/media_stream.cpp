#include "carsim/media/media_stream.h"

#include <algorithm>

#include "carsim/media/annexb_file_source.h"
#include "carsim/media/pattern_source.h"
#include "carsim/media/slice_trailer.h"

namespace carsim {

MediaStream::MediaStream(MediaOptions options)
    : options_(std::move(options)), packetizer_(options_.shardSize, options_.parityPackets),
      faults_(options_), garbage_(options_.seed, packetizer_), deviceFlags_(options_.deviceFlags),
      nextFrameNumber_(static_cast<uint16_t>(options_.startFrameNumber)) {}

MediaStream::~MediaStream() = default;

bool MediaStream::open() {
    if (!options_.inputFile.empty()) {
        auto file = std::make_unique<AnnexBFileSource>();
        if (!file->open(options_.inputFile)) {
            error_ = "cannot read H.264 access units from " + options_.inputFile;
            return false;
        }
        source_ = std::move(file);
        return true;
    }
    EncoderSettings settings;
    settings.width = options_.width;
    settings.height = options_.height;
    settings.fps = options_.fps;
    settings.bitrateKbps = options_.bitrateKbps;
    settings.gop = std::max(options_.gop, 1);
    settings.vuiTiming = options_.vuiTiming;
    auto pattern = std::make_unique<PatternSource>(settings);
    if (!pattern->open()) {
        error_ = pattern->error();
        return false;
    }
    source_ = std::move(pattern);
    return true;
}

uint16_t MediaStream::takeFrameNumber() {
    return nextFrameNumber_++; // wraps from 65535 to 0
}

MediaTick MediaStream::next() {
    MediaTick tick;
    tick.frameIndex = frameIndex_;
    if (source_ == nullptr) {
        return tick;
    }
    auto frame = source_->nextFrame(keyFrameRequested_.exchange(false));
    if (!frame) {
        return tick;
    }
    ++frameIndex_;
    if (options_.family == Family::Sonix) {
        *frame = appendSliceTrailers(
            *frame, makeSliceTrailer(tick.frameIndex, options_.fps, deviceFlags_.load()));
    }
    tick.frame = std::move(*frame);
    tick.frameNumber = takeFrameNumber();
    std::vector<Bytes> datagrams = packetizer_.packetize(tick.frameNumber, tick.frame);
    tick.sent = !datagrams.empty();
    if (!tick.sent) {
        // Too large even at the largest shard: the pictures after it would refer to it, so the
        // next one starts afresh.
        keyFrameRequested_ = true;
    }
    faults_.apply(std::move(datagrams), tick.datagrams);
    if (options_.garbage) {
        addGarbage(tick);
    }
    return tick;
}

// Garbage that the receiver must refuse when parsing goes among the good frame's datagrams with
// its frame number, where accepting it would spoil the frame; garbage that parses gets a frame
// number of its own after the good frame, so the good frames stay whole and decodable.
void MediaStream::addGarbage(MediaTick& tick) {
    const GarbageKind kind = garbage_.nextKind();
    tick.garbageKinds.push_back(kind);
    if (garbageNeedsOwnFrame(kind)) {
        std::vector<Bytes> bad = garbage_.makeOwnFrame(kind, takeFrameNumber());
        tick.datagrams.insert(tick.datagrams.end(), bad.begin(), bad.end());
        return;
    }
    const size_t at = tick.datagrams.size() / 2;
    const Bytes* neighbour = at < tick.datagrams.size() ? &tick.datagrams[at] : nullptr;
    std::vector<Bytes> bad = garbage_.makeInFrame(kind, tick.frameNumber, neighbour);
    tick.datagrams.insert(tick.datagrams.begin() + static_cast<ptrdiff_t>(at), bad.begin(),
                          bad.end());
}

} // namespace carsim
