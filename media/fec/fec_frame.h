// The packets of one frame being put together, and the rule by which they complete it: directly
// once every data packet is there, or by erasure recovery once enough packets of any kind are.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "media/fec/fec_packet.h"

struct FecFrame {
    // The frame's shape comes from the packet that created it; every later packet must agree.
    FecFrame(int number, int k, int m, int shardSize, uint32_t frameLength);
    explicit FecFrame(const FecPacket& first);

    // A frame is complete exactly when data is not empty; its data never changes after that.
    bool complete() const { return !data.empty(); }
    // Whether k, m, shard size and frame length describe a frame packets can fill; a frame
    // that does not refuses every packet and has no slots.
    bool shapeIsValid() const;

    int number;
    int dataReceived = 0; // stored packets with index below k
    int k;
    int parityReceived = 0; // stored packets with index k or above
    int m;
    int shardSize;
    uint32_t frameLength;
    std::vector<std::unique_ptr<FecPacket>> slots; // k + m; slot i holds the packet of index i
    std::vector<uint8_t> data;                     // the frame's bytes once complete
};

enum class AddResult {
    stored,           // kept in its slot (the frame may have completed)
    duplicateIgnored, // a byte-identical copy of a packet already stored; the frame is unchanged
    refused,          // malformed, outside the frame, disagreeing with its shape, or a different
                      // packet for a filled slot: the receiver discards the whole frame
};

// Stores the packet in its slot. Completes the frame directly at its last data packet, or by
// recovery at the packet of the highest index when enough packets are there.
AddResult addPacket(FecFrame& frame, std::unique_ptr<FecPacket> packet);
