// Erasure recovery of one frame, the receiver's recoverFrame against two references that decode
// the same erasures of the same code in this binary:
//  - jerasure's jerasure_matrix_decode as a whole (Cauchy matrix, decoding matrix inversion and
//    region arithmetic for every frame, lost parity blocks re-encoded too);
//  - Intel ISA-L, fed the inverse of the decoding matrix built from jerasure's Cauchy
//    coefficients (both work in GF(2^8) with polynomial 0x11d), once inverting per frame and
//    once with its tables prepared ahead, as recoverFrame keeps its plans.
// Every variant does the receiver's whole job, the stored packets in and the frame's bytes out,
// and checks in its set-up that it rebuilds the frame byte for byte (ISA-L also against
// recoverFrame's output).
//
// Shapes (k, m, shard size): (8, 2, 1400), (20, 4, 1400), (40, 8, 1200), each losing m data
// packets spread over the frame (the most the parity repairs), and a single lost data packet.
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cauchy.h>
#include <cstring>
#include <isa-l/erasure_code.h>
#include <jerasure.h>
#include <memory>

#include "carsim/media/frame_packetizer.h"
#include "media/fec/decode_plan.h"
#include "media/fec/fec_frame.h"
#include "media/fec/fec_recovery.h"

namespace {

struct Scenario {
    int k = 0;
    int m = 0;
    int shard = 0;
    size_t block = 0;
    std::vector<uint8_t> bytes;
    FecFrame frame{0, 0, 0, 0, 0};
    std::vector<int> lostData;
    std::vector<int> survivors; // the first k packets that arrived, in index order
};

// The frame is as long as k shards less 100 bytes, so its last data packet is short.
bool makeScenario(benchmark::State& state, Scenario& s, bool singleLoss) {
    s.k = static_cast<int>(state.range(0));
    s.m = static_cast<int>(state.range(1));
    s.shard = static_cast<int>(state.range(2));
    s.block = (static_cast<size_t>(s.shard) + 15) / 16 * 16;
    s.bytes.resize(static_cast<size_t>(s.k) * s.shard - 100);
    for (size_t i = 0; i < s.bytes.size(); ++i) {
        s.bytes[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
    }
    const std::vector<carsim::Bytes> datagrams =
        carsim::FramePacketizer(s.shard, s.m).packetize(3, s.bytes);
    if (datagrams.size() != static_cast<size_t>(s.k + s.m)) {
        state.SkipWithError("the packetizer chose another shape");
        return false;
    }
    const int losses = singleLoss ? 1 : s.m;
    for (int i = 0; i < losses; ++i) {
        s.lostData.push_back(i * s.k / losses + s.k / (2 * losses));
    }
    s.frame = FecFrame(3, s.k, s.m, s.shard, static_cast<uint32_t>(s.bytes.size()));
    for (int i = 0; i < s.k + s.m; ++i) {
        if (std::find(s.lostData.begin(), s.lostData.end(), i) != s.lostData.end()) {
            continue;
        }
        if (static_cast<int>(s.survivors.size()) < s.k) {
            s.survivors.push_back(i);
        }
        s.frame.slots[i] = parseFecPacket(datagrams[i].data(), datagrams[i].size());
    }
    return true;
}

// The frame's bytes from the stored data payloads and the rebuilt blocks (in lost order).
std::vector<uint8_t> joinFrame(const Scenario& s, const std::vector<uint8_t*>& rebuilt) {
    std::vector<uint8_t> data;
    data.reserve(s.bytes.size());
    size_t next = 0;
    for (int i = 0; i < s.k; ++i) {
        const auto length = static_cast<size_t>(
            fecPayloadLengthAt(i, s.k, s.m, s.shard, static_cast<uint32_t>(s.bytes.size())));
        const uint8_t* from = s.frame.slots[i] ? s.frame.slots[i]->payload.data() : rebuilt[next++];
        data.insert(data.end(), from, from + length);
    }
    return data;
}

void recoverFrameBench(benchmark::State& state, bool singleLoss) {
    Scenario s;
    if (!makeScenario(state, s, singleLoss)) {
        return;
    }
    if (!recoverFrame(s.frame) || s.frame.data != s.bytes) {
        state.SkipWithError("recoverFrame did not rebuild the frame");
        return;
    }
    for (auto _ : state) {
        std::vector<uint8_t>().swap(s.frame.data); // each real frame brings its own buffer
        recoverFrame(s.frame);
        benchmark::DoNotOptimize(s.frame.data.data());
    }
}

void BM_RecoverFrame(benchmark::State& state) {
    recoverFrameBench(state, false);
}

void BM_RecoverFrameOneLost(benchmark::State& state) {
    recoverFrameBench(state, true);
}

// What a plan costs the first time its erasure pattern is seen.
void BM_BuildDecodePlan(benchmark::State& state) {
    Scenario s;
    if (!makeScenario(state, s, false)) {
        return;
    }
    std::vector<uint16_t> lost(s.lostData.begin(), s.lostData.end());
    std::vector<uint16_t> parity;
    for (int j = 0; j < s.m; ++j) {
        parity.push_back(static_cast<uint16_t>(s.k + j));
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(buildDecodePlan(s.k, s.m, lost, parity));
    }
}

// Every step of a plain jerasure decode for every frame, as the simplest receiver would.
void BM_JerasureMatrixDecode(benchmark::State& state) {
    Scenario s;
    if (!makeScenario(state, s, false)) {
        return;
    }
    ensureGaloisFieldReady();
    std::vector<uint8_t> result;
    for (auto _ : state) {
        int* matrix = cauchy_original_coding_matrix(s.k, s.m, 8);
        std::vector<int> erasures;
        std::vector<uint8_t> blocks(static_cast<size_t>(s.k + s.m) * s.block, 0);
        std::vector<char*> data(s.k);
        std::vector<char*> coding(s.m);
        for (int i = 0; i < s.k + s.m; ++i) {
            char* block = reinterpret_cast<char*>(blocks.data() + i * s.block);
            (i < s.k ? data[i] : coding[i - s.k]) = block;
            if (s.frame.slots[i]) {
                const std::vector<uint8_t>& payload = s.frame.slots[i]->payload;
                std::memcpy(block, payload.data(), payload.size());
            } else {
                erasures.push_back(i);
            }
        }
        erasures.push_back(-1);
        jerasure_matrix_decode(s.k, s.m, 8, matrix, 0, erasures.data(), data.data(), coding.data(),
                               s.shard);
        std::free(matrix);
        std::vector<uint8_t*> rebuilt;
        for (int lost : s.lostData) {
            rebuilt.push_back(reinterpret_cast<uint8_t*>(data[lost]));
        }
        result = joinFrame(s, rebuilt);
        benchmark::DoNotOptimize(result.data());
    }
    if (result != s.bytes) {
        state.SkipWithError("jerasure_matrix_decode did not rebuild the frame");
    }
}

// ISA-L's decode of the same erasures: the generator is the identity over jerasure's Cauchy
// rows; the rows of the survivors are inverted, and the inverse's rows of the lost blocks are
// expanded into ISA-L's multiplication tables.
struct IsalDecoder {
    Scenario& s;
    std::vector<uint8_t> generator;
    std::vector<uint8_t> tables;

    explicit IsalDecoder(Scenario& scenario) : s(scenario) {
        int* cauchy = cauchy_original_coding_matrix(s.k, s.m, 8);
        generator.assign(static_cast<size_t>(s.k + s.m) * s.k, 0);
        for (int i = 0; i < s.k; ++i) {
            generator[i * s.k + i] = 1;
        }
        for (int j = 0; j < s.m * s.k; ++j) {
            generator[s.k * s.k + j] = static_cast<uint8_t>(cauchy[j]);
        }
        std::free(cauchy);
        tables.resize(32 * static_cast<size_t>(s.k) * s.lostData.size());
    }

    bool prepareTables() {
        const auto k = static_cast<size_t>(s.k);
        std::vector<uint8_t> survivorRows(k * k);
        std::vector<uint8_t> inverse(k * k);
        for (size_t r = 0; r < k; ++r) {
            std::memcpy(&survivorRows[r * k], &generator[s.survivors[r] * k], k);
        }
        if (gf_invert_matrix(survivorRows.data(), inverse.data(), s.k) != 0) {
            return false;
        }
        std::vector<uint8_t> decodeRows;
        for (int lost : s.lostData) {
            decodeRows.insert(decodeRows.end(), &inverse[lost * k], &inverse[lost * k] + k);
        }
        ec_init_tables(s.k, static_cast<int>(s.lostData.size()), decodeRows.data(), tables.data());
        return true;
    }

    // ISA-L takes blocks of any length and alignment: full payloads are read where they lie,
    // only a short one is copied and padded with zeros. `blocks` holds 1 + lost blocks.
    std::vector<uint8_t> decode(uint8_t* blocks) {
        const auto shard = static_cast<size_t>(s.shard);
        std::vector<uint8_t*> sources(s.k);
        std::vector<uint8_t*> outputs(s.lostData.size());
        for (int c = 0; c < s.k; ++c) {
            std::vector<uint8_t>& payload = s.frame.slots[s.survivors[c]]->payload;
            sources[c] = payload.data();
            if (payload.size() < shard) {
                std::memcpy(blocks, payload.data(), payload.size());
                std::memset(blocks + payload.size(), 0, shard - payload.size());
                sources[c] = blocks;
            }
        }
        for (size_t r = 0; r < outputs.size(); ++r) {
            outputs[r] = blocks + (1 + r) * shard;
        }
        ec_encode_data(s.shard, s.k, static_cast<int>(outputs.size()), tables.data(),
                       sources.data(), outputs.data());
        return joinFrame(s, outputs);
    }
};

void isalBench(benchmark::State& state, bool tablesAhead) {
    Scenario s;
    if (!makeScenario(state, s, false)) {
        return;
    }
    ensureGaloisFieldReady();
    IsalDecoder decoder(s);
    const size_t blockBytes = (1 + s.lostData.size()) * static_cast<size_t>(s.shard);
    std::vector<uint8_t> blocks(blockBytes);
    if (!decoder.prepareTables() || decoder.decode(blocks.data()) != s.bytes) {
        state.SkipWithError("ISA-L did not rebuild the frame");
        return;
    }
    Scenario ours;
    makeScenario(state, ours, false);
    if (!recoverFrame(ours.frame) || ours.frame.data != decoder.decode(blocks.data())) {
        state.SkipWithError("ISA-L and recoverFrame disagree");
        return;
    }
    for (auto _ : state) {
        // Like recoverFrame: one block buffer per frame, padding written, the rest overwritten.
        auto perFrame = std::make_unique_for_overwrite<uint8_t[]>(blockBytes);
        if (!tablesAhead) {
            decoder.prepareTables();
        }
        std::vector<uint8_t> data = decoder.decode(perFrame.get());
        benchmark::DoNotOptimize(data.data());
    }
}

void BM_IsalDecode(benchmark::State& state) {
    isalBench(state, false);
}

void BM_IsalDecodeTablesAhead(benchmark::State& state) {
    isalBench(state, true);
}

void shapes(benchmark::internal::Benchmark* b) {
    b->ArgNames({"k", "m", "shard"});
    b->Args({8, 2, 1400});
    b->Args({20, 4, 1400});
    b->Args({40, 8, 1200});
}

} // namespace

BENCHMARK(BM_RecoverFrame)->Apply(shapes);
BENCHMARK(BM_IsalDecodeTablesAhead)->Apply(shapes);
BENCHMARK(BM_IsalDecode)->Apply(shapes);
BENCHMARK(BM_JerasureMatrixDecode)->Apply(shapes);
BENCHMARK(BM_RecoverFrameOneLost)->Apply(shapes);
BENCHMARK(BM_BuildDecodePlan)->Apply(shapes);
BENCHMARK_MAIN();
