#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "media/h264/access_unit.h"
#include "media/h264/nal_units.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Bytes> cut(const Bytes& frame) {
    std::vector<Bytes> out;
    forEachNalUnit(frame, [&](NalSpan nal) {
        EXPECT_TRUE(nal.data() >= frame.data() &&
                    nal.data() + nal.size() <= frame.data() + frame.size())
            << "a view into the frame, not a copy";
        out.emplace_back(nal.begin(), nal.end());
    });
    return out;
}

// The cutting rule as first written down: byte by byte, every NAL unit kept, empty ones too.
std::vector<Bytes> cutByTheRule(const Bytes& d) {
    std::vector<Bytes> out;
    const size_t n = d.size();
    if (n <= 4) {
        return out;
    }
    const auto startsAt = [&](size_t q) {
        return q < n - 4 && d[q] == 0 && d[q + 1] == 0 && d[q + 2] == 0 && d[q + 3] == 1;
    };
    size_t p = 0;
    while (p < n - 4) {
        if (!startsAt(p)) {
            ++p;
            continue;
        }
        const size_t s = p + 4;
        size_t q = s;
        while (q < n && !startsAt(q)) {
            ++q;
        }
        out.emplace_back(d.begin() + static_cast<ptrdiff_t>(s),
                         d.begin() + static_cast<ptrdiff_t>(q));
        p = q;
    }
    return out;
}

// Start codes are four bytes only: bytes before the first are skipped, a start code counts when
// it begins before n - 4, a fifth zero belongs to the NAL unit before, 3-byte start codes stay
// inside, and empty NAL units are dropped.
TEST(NalCutting, AgreesWithTheByteByByteRuleOnRandomFrames) {
    std::mt19937 random(7);
    // Mostly zeros and ones, so that start codes, near misses and runs of zeros are common.
    std::discrete_distribution<int> byte({6, 3, 1});
    std::vector<NalSpan> spans;
    for (int round = 0; round < 3000; ++round) {
        Bytes frame(random() % 40);
        for (uint8_t& b : frame) {
            b = static_cast<uint8_t>(byte(random) == 2 ? 0x65 : byte(random));
        }
        std::vector<Bytes> expected = cutByTheRule(frame);
        std::erase_if(expected, [](const Bytes& nal) { return nal.empty(); });
        ASSERT_EQ(cut(frame), expected) << "round " << round;
        cutNalUnits(frame, spans);
        ASSERT_EQ(spans.size(), expected.size()) << "cleared first: round " << round;
    }
}

TEST(AccessUnit, PutsTheParameterSetsInFrontOfAnIdrSliceOnly) {
    const Bytes sps = {0x67, 0x42}, pps = {0x68, 0xCE}, idr = {0x65, 0x88}, slice = {0x41, 0x9A};
    Bytes out = {9, 9, 9};
    buildAccessUnit(idr, sps, pps, out);
    EXPECT_EQ(out, (Bytes{0, 0, 0, 1, 0x67, 0x42, 0, 0, 0, 1, 0x68, 0xCE, 0, 0, 0, 1, 0x65, 0x88}));
    buildAccessUnit(slice, sps, pps, out);
    EXPECT_EQ(out, (Bytes{0, 0, 0, 1, 0x41, 0x9A}));
}

} // namespace
