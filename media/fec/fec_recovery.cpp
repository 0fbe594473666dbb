#include "media/fec/fec_recovery.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <galois.h>

#include "client/stream_stats_collector.h"
#include "media/fec/decode_plan_cache.h"

namespace {

// jerasure's region operations want long-word aligned regions; 16 also suits the SIMD paths.
size_t roundUp16(size_t value) {
    return (value + 15) / 16 * 16;
}

// The erasure pattern of the frame's slots: its lost data indices and, for each, the next
// parity packet that arrived. False when too few packets arrived.
bool findPattern(const FecFrame& frame, std::vector<uint16_t>& lostData,
                 std::vector<uint16_t>& parityUsed) {
    for (int i = 0; i < frame.k; ++i) {
        if (!frame.slots[i]) {
            lostData.push_back(static_cast<uint16_t>(i));
        }
    }
    for (int i = frame.k; i < frame.k + frame.m && parityUsed.size() < lostData.size(); ++i) {
        if (frame.slots[i]) {
            parityUsed.push_back(static_cast<uint16_t>(i));
        }
    }
    return parityUsed.size() == lostData.size();
}

// Each output block is the GF(2^8) sum over the sources of coefficient x source.
void applyPlan(const DecodePlan& plan, const std::vector<uint8_t*>& sources,
               const std::vector<uint8_t*>& outputs, size_t blockSize) {
    const size_t k = sources.size();
    for (size_t r = 0; r < outputs.size(); ++r) {
        const uint8_t* row = plan.coefficients.data() + r * k;
        bool written = false;
        for (size_t c = 0; c < k; ++c) {
            if (row[c] == 0) {
                continue;
            }
            galois_w08_region_multiply(reinterpret_cast<char*>(sources[c]), row[c],
                                       static_cast<int>(blockSize),
                                       reinterpret_cast<char*>(outputs[r]), written ? 1 : 0);
            written = true;
        }
        if (!written) {
            std::memset(outputs[r], 0, blockSize);
        }
    }
}

bool usableInPlace(const std::vector<uint8_t>& payload, size_t blockSize) {
    return payload.size() == blockSize && reinterpret_cast<uintptr_t>(payload.data()) % 16 == 0;
}

bool slotsAreConsistent(const FecFrame& frame) {
    if (!frame.shapeIsValid() || frame.slots.size() != static_cast<size_t>(frame.k + frame.m)) {
        return false;
    }
    for (size_t i = 0; i < frame.slots.size(); ++i) {
        const int expected = fecPayloadLengthAt(static_cast<int>(i), frame.k, frame.m,
                                                frame.shardSize, frame.frameLength);
        if (frame.slots[i] && frame.slots[i]->payload.size() != static_cast<size_t>(expected)) {
            return false;
        }
    }
    return true;
}

// The blocks recovery works on: every source block and one block per lost data block, each
// blockSize bytes. Region arithmetic wants whole blocks of a multiple of 16 bytes: a payload
// that fills one by itself and is 16-byte aligned like the buffer is used where it lies, the
// others are copied into zero-padded blocks (the sender padded with zeros too).
struct Blocks {
    std::unique_ptr<uint8_t[]> buffer;
    std::vector<uint8_t*> sources;
    std::vector<uint8_t*> outputs;
};

Blocks layOutBlocks(FecFrame& frame, const DecodePlan& plan, size_t blockSize) {
    Blocks blocks;
    blocks.sources.resize(plan.sources.size());
    blocks.outputs.resize(plan.outputs.size());
    size_t copies = 0;
    for (uint16_t source : plan.sources) {
        copies += usableInPlace(frame.slots[source]->payload, blockSize) ? 0 : 1;
    }
    blocks.buffer =
        std::make_unique_for_overwrite<uint8_t[]>((copies + blocks.outputs.size()) * blockSize);
    uint8_t* next = blocks.buffer.get();
    for (size_t c = 0; c < blocks.sources.size(); ++c) {
        std::vector<uint8_t>& payload = frame.slots[plan.sources[c]]->payload;
        if (usableInPlace(payload, blockSize)) {
            blocks.sources[c] = payload.data();
            continue;
        }
        blocks.sources[c] = next;
        next += blockSize;
        std::memcpy(blocks.sources[c], payload.data(), payload.size());
        std::memset(blocks.sources[c] + payload.size(), 0, blockSize - payload.size());
    }
    for (uint8_t*& output : blocks.outputs) {
        output = next;
        next += blockSize;
    }
    return blocks;
}

// The data blocks in index order, each cut to the length its index holds in the frame; the
// lost ones come from `rebuilt`, in the same order.
void joinDataBlocks(FecFrame& frame, const std::vector<uint8_t*>& rebuilt) {
    frame.data.reserve(frame.frameLength);
    size_t nextLost = 0;
    for (int i = 0; i < frame.k; ++i) {
        const auto length = static_cast<size_t>(
            fecPayloadLengthAt(i, frame.k, frame.m, frame.shardSize, frame.frameLength));
        const uint8_t* block =
            frame.slots[i] ? frame.slots[i]->payload.data() : rebuilt[nextLost++];
        frame.data.insert(frame.data.end(), block, block + length);
    }
}

} // namespace

bool recoverFrame(FecFrame& frame) {
    // The slots are public: judge them as they are, not by the counters beside them.
    if (frame.complete() || !slotsAreConsistent(frame)) {
        return false;
    }
    std::vector<uint16_t> lostData;
    std::vector<uint16_t> parityUsed;
    if (!findPattern(frame, lostData, parityUsed)) {
        return false;
    }
    const std::string key = DecodePlan::key(frame.k, frame.m, lostData, parityUsed);
    std::shared_ptr<const DecodePlan> plan = DecodePlanCache::shared().find(
        key, [&] { return buildDecodePlan(frame.k, frame.m, lostData, parityUsed); });
    if (!plan) {
        return false;
    }
    const size_t blockSize = roundUp16(static_cast<size_t>(frame.shardSize));
    const Blocks blocks = layOutBlocks(frame, *plan, blockSize);
    applyPlan(*plan, blocks.sources, blocks.outputs, blockSize);
    joinDataBlocks(frame, blocks.outputs);
    stream_stats::countRepairedBlock();
    return true;
}
