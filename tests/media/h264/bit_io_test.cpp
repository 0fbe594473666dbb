#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "media/h264/bit_reader.h"
#include "media/h264/bit_writer.h"
#include "media/h264/emulation_prevention.h"

namespace {

using Bytes = std::vector<uint8_t>;

// "0100 1" -> 0x48: the bits of the string, spaces ignored, zero-padded to whole bytes.
Bytes fromBits(const std::string& text) {
    Bytes bytes;
    int count = 0;
    for (const char c : text) {
        if (c == ' ') {
            continue;
        }
        if (count % 8 == 0) {
            bytes.push_back(0);
        }
        bytes.back() |= static_cast<uint8_t>((c == '1') << (7 - count % 8));
        ++count;
    }
    return bytes;
}

struct CodeCase {
    std::string bits;
    uint32_t code;
    int32_t signedValue;
};

TEST(BitReader, ReadsAndWritesTheExpGolombCodesOfTheStandard) {
    const CodeCase cases[] = {
        {"1", 0, 0},
        {"010", 1, 1},
        {"011", 2, -1},
        {"00100", 3, 2},
        {"00111", 6, -3},
        {"0001000", 7, 4},
        {"0000000 0000000 0000000 0000000 000 1" + std::string(31, '0'), 0x7FFFFFFF, 1 << 30},
    };
    for (const CodeCase& c : cases) {
        const Bytes bytes = fromBits(c.bits + "1");
        BitReader unsignedReader(bytes);
        EXPECT_EQ(unsignedReader.ue(), c.code) << c.bits;
        EXPECT_EQ(unsignedReader.u(1), 1u) << "the code ends where it should: " << c.bits;
        BitReader signedReader(bytes);
        EXPECT_EQ(signedReader.se(), c.signedValue) << c.bits;
        EXPECT_FALSE(signedReader.failed());

        Bytes written(bytes.size() + 1, 0xFF); // every bit must be set or cleared
        BitWriter writer(written);
        writer.ue(c.code);
        writer.u(1, 1);
        writer.trailingBits();
        EXPECT_FALSE(writer.failed());
        Bytes expected = fromBits(c.bits + "11");
        expected.resize(writer.written().size(), 0);
        EXPECT_EQ(Bytes(writer.written().begin(), writer.written().end()), expected) << c.bits;
    }
}

TEST(BitReader, FailsBeyondTheLimitOrTheEndAndStaysFailed) {
    const Bytes tooLarge = fromBits(std::string(31, '0') + "1" + std::string(30, '0') + "1");
    BitReader large(tooLarge);
    EXPECT_EQ(large.ue(), 0u) << "2^31 does not fit a signed element";
    EXPECT_TRUE(large.failed());

    const Bytes zeros(4096, 0);
    BitReader run(zeros);
    EXPECT_EQ(run.ue(), 0u);
    EXPECT_TRUE(run.failed());
    EXPECT_LE(run.bitPosition(), 33u) << "a run of zeros is given up after 32 bits";

    const Bytes one = {0xA5};
    BitReader shortData(one);
    EXPECT_EQ(shortData.u(8), 0xA5u);
    EXPECT_FALSE(shortData.failed());
    EXPECT_EQ(shortData.u(4), 0u);
    EXPECT_TRUE(shortData.failed());
    EXPECT_EQ(shortData.bitsRemaining(), 0u) << "the cursor stays at the end";

    const Bytes endsInZeros = {0x00};
    BitReader ue(endsInZeros);
    EXPECT_EQ(ue.ue(), 0u);
    EXPECT_TRUE(ue.failed());
}

TEST(BitWriter, DropsBitsBeyondTheBufferAndRefusesValuesItsCodeCannotHold) {
    Bytes buffer = {0x00, 0x00, 0xEE};
    BitWriter writer(std::span<uint8_t>(buffer).first(2));
    writer.u(16, 0xFFFF);
    EXPECT_FALSE(writer.failed());
    writer.u(1, 1);
    EXPECT_TRUE(writer.failed());
    EXPECT_EQ(buffer[2], 0xEE) << "nothing written past the end";
    writer.trailingBits(); // must end at the end of the buffer

    const auto refuses = [](auto write) {
        Bytes bytes(16);
        BitWriter w(bytes);
        write(w);
        return w.failed();
    };
    EXPECT_TRUE(refuses([](BitWriter& w) { w.u(3, 8); }));
    EXPECT_FALSE(refuses([](BitWriter& w) { w.u(32, 0xFFFFFFFF); }));
    EXPECT_TRUE(refuses([](BitWriter& w) { w.ue(0xFFFFFFFF); }));
    EXPECT_FALSE(refuses([](BitWriter& w) { w.ue(0xFFFFFFFE); }));
    EXPECT_TRUE(refuses([](BitWriter& w) { w.se(INT32_MIN); }));
}

TEST(EmulationPrevention, EscapesEveryZeroPairBeforeASmallByteAndUndoesIt) {
    const std::pair<Bytes, Bytes> cases[] = {
        {{0x00, 0x00, 0x00}, {0x00, 0x00, 0x03, 0x00}},
        {{0x00, 0x00, 0x01, 0x00, 0x00, 0x02}, {0x00, 0x00, 0x03, 0x01, 0x00, 0x00, 0x03, 0x02}},
        {{0x00, 0x00, 0x03, 0x00, 0x00, 0x04}, {0x00, 0x00, 0x03, 0x03, 0x00, 0x00, 0x04}},
        {{0x00, 0x00, 0x00, 0x00, 0x01}, {0x00, 0x00, 0x03, 0x00, 0x00, 0x03, 0x01}},
        {{0x80, 0x00, 0x00}, {0x80, 0x00, 0x00, 0x03}},
        {{0x67, 0x00, 0x03, 0x1E}, {0x67, 0x00, 0x03, 0x1E}},
    };
    for (const auto& [rbsp, escaped] : cases) {
        Bytes out = {0x67};
        insertEmulationPrevention(rbsp, out);
        EXPECT_EQ(Bytes(out.begin() + 1, out.end()), escaped);
        Bytes back;
        removeEmulationPrevention(escaped, back);
        EXPECT_EQ(back, rbsp);
    }
}

} // namespace
