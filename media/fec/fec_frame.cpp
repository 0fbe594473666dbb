#include "media/fec/fec_frame.h"

#include "client/stream_stats_collector.h"
#include "media/fec/fec_recovery.h"

namespace {

bool sameShape(const FecFrame& frame, const FecPacket& packet) {
    return packet.frameNumber == frame.number && packet.k == frame.k && packet.m == frame.m &&
           packet.shardSize == frame.shardSize && packet.frameLength == frame.frameLength;
}

void completeFromDataPackets(FecFrame& frame) {
    frame.data.reserve(frame.frameLength);
    for (int i = 0; i < frame.k; ++i) {
        const std::vector<uint8_t>& payload = frame.slots[i]->payload;
        frame.data.insert(frame.data.end(), payload.begin(), payload.end());
    }
    stream_stats::countDirectBlock();
}

} // namespace

FecFrame::FecFrame(int number, int k, int m, int shardSize, uint32_t frameLength)
    : number(number), k(k), m(m), shardSize(shardSize), frameLength(frameLength) {
    if (shapeIsValid()) {
        slots.resize(static_cast<size_t>(k + m));
    }
}

FecFrame::FecFrame(const FecPacket& first)
    : FecFrame(first.frameNumber, first.k, first.m, first.shardSize, first.frameLength) {}

bool FecFrame::shapeIsValid() const {
    if (k < 1 || m < 0 || k + m > kFecMaxPackets || shardSize < 1 || shardSize > 65535) {
        return false;
    }
    const uint64_t shard = static_cast<uint64_t>(shardSize);
    return frameLength <= static_cast<uint64_t>(k) * shard &&
           frameLength > static_cast<uint64_t>(k - 1) * shard;
}

AddResult addPacket(FecFrame& frame, std::unique_ptr<FecPacket> packet) {
    // A packet made by hand rather than parsed gets the same checks, so the slots only ever
    // hold payloads of the length their index gives.
    if (!packet || !fecPacketIsWellFormed(*packet) || !sameShape(frame, *packet)) {
        return AddResult::refused;
    }
    const size_t i = packet->packetIndex;
    if (i >= frame.slots.size()) {
        return AddResult::refused;
    }
    if (frame.slots[i]) {
        // The link repeats datagrams now and then; only a different packet for the same slot
        // means the frame cannot be trusted.
        return frame.slots[i]->payload == packet->payload ? AddResult::duplicateIgnored
                                                          : AddResult::refused;
    }
    const bool isData = i < static_cast<size_t>(frame.k);
    (isData ? frame.dataReceived : frame.parityReceived) += 1;
    frame.slots[i] = std::move(packet);

    if (frame.dataReceived >= frame.k && !frame.complete()) {
        completeFromDataPackets(frame);
        return AddResult::stored;
    }
    // The packet of the highest index is the last the car sends for the frame: if the frame
    // is still incomplete then, waiting longer only delays it.
    const bool lastOfFrame = i + 1 == frame.slots.size();
    if (lastOfFrame && !frame.complete() && frame.dataReceived + frame.parityReceived >= frame.k) {
        recoverFrame(frame);
    }
    return AddResult::stored;
}
