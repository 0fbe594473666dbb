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

struct CutCase {
    const char* name;
    Bytes frame;
    std::vector<Bytes> nals;
};

TEST(NalCutting, CutsAtFourByteStartCodesOnly) {
    const CutCase cases[] = {
        {"empty frame", {}, {}},
        {"four bytes or fewer", {0, 0, 0, 1}, {}},
        {"one byte after the start code", {0, 0, 0, 1, 0x65}, {{0x65}}},
        {"bytes before the first start code skipped",
         {0xAA, 0, 1, 0, 0, 0, 1, 0x67, 0x11},
         {{0x67, 0x11}}},
        {"empty NAL units dropped", {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0x68}, {{0x68}}},
        {"a start code at n - 4 ends the last NAL unit",
         {0, 0, 0, 1, 0x41, 0x99, 0, 0, 0, 1},
         {{0x41, 0x99, 0, 0, 0, 1}}},
        {"a start code at n - 5 counts", {0, 0, 0, 1, 0x41, 0, 0, 0, 1, 0x42}, {{0x41}, {0x42}}},
        {"only a start code at n - 4", {0xAA, 0, 0, 0, 1}, {}},
        {"3-byte start codes stay inside",
         {0, 0, 0, 1, 0x41, 0, 0, 1, 0x42},
         {{0x41, 0, 0, 1, 0x42}}},
        {"a fifth zero belongs to the NAL unit before",
         {0, 0, 0, 1, 0x41, 0, 0, 0, 0, 1, 0x42},
         {{0x41, 0}, {0x42}}},
    };
    for (const CutCase& c : cases) {
        EXPECT_EQ(cut(c.frame), c.nals) << c.name;
        std::vector<NalSpan> spans = {NalSpan{}};
        cutNalUnits(c.frame, spans);
        EXPECT_EQ(spans.size(), c.nals.size()) << c.name;
    }
}

TEST(NalCutting, AgreesWithTheByteByByteRuleOnRandomFrames) {
    std::mt19937 random(7);
    // Mostly zeros and ones, so that start codes, near misses and runs of zeros are common.
    std::discrete_distribution<int> byte({6, 3, 1});
    for (int round = 0; round < 3000; ++round) {
        Bytes frame(random() % 40);
        for (uint8_t& b : frame) {
            b = static_cast<uint8_t>(byte(random) == 2 ? 0x65 : byte(random));
        }
        std::vector<Bytes> expected = cutByTheRule(frame);
        std::erase_if(expected, [](const Bytes& nal) { return nal.empty(); });
        ASSERT_EQ(cut(frame), expected) << "round " << round;
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
