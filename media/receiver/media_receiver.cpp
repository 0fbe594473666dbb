#include "media/receiver/media_receiver.h"

#include <cstdlib>

#include "client/stream_stats_collector.h"
#include "media/fec/fec_recovery.h"

namespace {
// How far apart two 16-bit frame numbers are around the wrap.
int wrappedDistance(int a, int b) {
    const int d = std::abs(a - b) % 65536;
    return d > 32768 ? 65536 - d : d;
}

bool complete(const FecFrame& frame) {
    return frame.complete();
}
} // namespace

MediaReceiver::MediaReceiver(Family family, MediaSink& sink)
    : family(family), sink(sink),
      assembler(family == Family::Sonix ? AccessUnitAssembler::Trailer::Sonix
                                        : AccessUnitAssembler::Trailer::None,
                sink) {}

void MediaReceiver::reset() {
    std::lock_guard lock(mutex);
    lastPacketIndex = -1;
    lastDeliveredFrame = 0;
    lastSeenFrame = 0;
    frameCounter = -1;
    assembler.reset();
}

size_t MediaReceiver::framesInAssembly() const {
    std::lock_guard lock(mutex);
    return fecFrames.size();
}

void MediaReceiver::onPacket(const NetManager::NetPacket& packet) {
    std::lock_guard lock(mutex);
    int frameNumber = 0;
    if (!intake(packet, frameNumber)) {
        return;
    }
    if (family == Family::Sonix) {
        sonixPasses(frameNumber);
    } else {
        zoderivPass(frameNumber);
    }
    deliverCompleteFrames(packet.timestamp);
}

bool MediaReceiver::intake(const NetManager::NetPacket& datagram, int& frameNumber) {
    std::unique_ptr<FecPacket> packet = parseFecPacket(datagram);
    if (!packet) {
        return false;
    }
    const int f = packet->frameNumber;
    const int i = packet->packetIndex;
    // A frame already delivered or given up; far below means the numbers have wrapped.
    if (f <= lastDeliveredFrame && lastDeliveredFrame - f < kWrapDistance) {
        return false;
    }
    if (f > lastSeenFrame + 1) {
        stream_stats::countLostFrames(static_cast<uint32_t>(f - lastSeenFrame - 1));
    }
    if (f > lastSeenFrame) {
        lastPacketIndex = -1;
    }
    if (i < lastPacketIndex + 1) {
        stream_stats::countLatePacket();
    }
    lastPacketIndex = i;
    lastSeenFrame = f;
    frameNumber = f;

    auto entry = fecFrames.find(f);
    if (entry == fecFrames.end()) {
        makeRoomForFrame(f);
        entry = fecFrames.emplace(f, std::make_unique<FecFrame>(*packet)).first;
        stream_stats::addFrameShape(packet->k, packet->m);
    }
    // A packet the frame refuses (outside it, disagreeing with its shape, or another packet for
    // a filled slot) makes the whole frame suspect: it is dropped, and its later packets start
    // a new one. A byte-identical copy of a stored packet changes nothing.
    if (addPacket(*entry->second, std::move(packet)) == AddResult::refused) {
        fecFrames.erase(entry);
    }
    return true;
}

void MediaReceiver::makeRoomForFrame(int frameNumber) {
    if (fecFrames.size() < kMaxFramesInAssembly) {
        return;
    }
    // The frame farthest from the stream's present is the one least likely to ever complete.
    auto farthest = fecFrames.begin();
    for (auto it = fecFrames.begin(); it != fecFrames.end(); ++it) {
        if (wrappedDistance(it->first, frameNumber) > wrappedDistance(farthest->first, frameNumber)) {
            farthest = it;
        }
    }
    fecFrames.erase(farthest);
}

void MediaReceiver::sonixPasses(int frameNumber) {
    for (auto& [number, frame] : fecFrames) {
        if (!complete(*frame) && number + 1 <= frameNumber &&
            frame->dataReceived + frame->parityReceived >= frame->k) {
            recoverFrame(*frame);
        }
    }
    auto firstComplete = fecFrames.begin();
    while (firstComplete != fecFrames.end() && !complete(*firstComplete->second)) {
        ++firstComplete;
    }
    if (firstComplete == fecFrames.end()) {
        return;
    }
    // Every frame in front of it is incomplete and can no longer be waited for.
    while (fecFrames.begin() != firstComplete) {
        giveUp(fecFrames.begin());
    }
}

void MediaReceiver::zoderivPass(int frameNumber) {
    for (auto it = fecFrames.begin(); it != fecFrames.end();) {
        FecFrame& frame = *it->second;
        if (complete(frame) || it->first + 1 > frameNumber) {
            ++it;
        } else if (frame.dataReceived + frame.parityReceived < frame.k) {
            auto next = std::next(it);
            giveUp(it);
            it = next;
        } else {
            recoverFrame(frame);
            ++it;
        }
    }
}

void MediaReceiver::giveUp(std::map<int, std::unique_ptr<FecFrame>>::iterator frame) {
    fecFrames.erase(frame);
    stream_stats::countKeyFrameRequest();
    sink.requestKeyFrame();
}

void MediaReceiver::deliverCompleteFrames(int64_t timestamp) {
    while (!fecFrames.empty() && complete(*fecFrames.begin()->second)) {
        const auto first = fecFrames.begin();
        ++frameCounter;
        lastDeliveredFrame = first->first;
        // The frame leaves the table only after its NAL units, which point into its bytes.
        cutNalUnits(first->second->data, nals);
        for (const NalSpan nal : nals) {
            assembler.handleNalUnit(frameCounter, timestamp, nal);
        }
        fecFrames.erase(first);
    }
}
