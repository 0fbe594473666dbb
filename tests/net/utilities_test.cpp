#include <chrono>
#include <cstdint>
#include <list>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "net/adler32.h"
#include "net/byte_reader.h"
#include "net/hex.h"
#include "net/sleep.h"
#include "net/text_utils.h"

namespace {

using Values = std::list<std::pair<std::string, std::string>>;

TEST(Adler32, StartsFromTheGivenValue) {
    const uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(adler32(0, abc, 3), 0x024A0126u);
    EXPECT_EQ(adler32(1, abc, 3), 0x024D0127u);
    EXPECT_EQ(adler32(0x12345678u, abc, 0), 0x12345678u);

    const std::vector<uint8_t> zeros(112, 0);
    EXPECT_EQ(adler32(0, zeros.data(), 112), 0u);
}

TEST(Adler32, LongInputMatchesPlainModuloEveryByte) {
    // Long enough to cross several 5552-byte runs with all-0xFF bytes, the worst case for
    // overflow.
    const std::vector<uint8_t> bytes(20000, 0xFF);
    uint64_t a = 1;
    uint64_t b = 0;
    for (const uint8_t byte : bytes) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    EXPECT_EQ(adler32(1, bytes.data(), static_cast<uint32_t>(bytes.size())),
              static_cast<uint32_t>((b << 16) | a));
}

TEST(ByteReader, ReadsBigEndianAndFailsWithoutMoving) {
    const std::vector<uint8_t> bytes = {0x12, 0x34, 0x56};
    ByteReader reader(bytes);
    uint32_t word = 0;
    EXPECT_FALSE(reader.readU32(word));
    EXPECT_TRUE(reader.failed());
    EXPECT_EQ(reader.remaining(), 3);

    uint16_t half = 0;
    EXPECT_TRUE(reader.readU16(half));
    EXPECT_EQ(half, 0x1234);
    EXPECT_TRUE(reader.failed()) << "the flag is never cleared";

    std::vector<uint8_t> out = {9, 9, 9};
    EXPECT_FALSE(reader.readBytes(2, out));
    EXPECT_EQ(out.size(), 3u);
    EXPECT_TRUE(reader.readBytes(1, out));
    EXPECT_EQ(out, std::vector<uint8_t>{0x56});
    EXPECT_EQ(reader.remaining(), 0);
}

TEST(ByteReader, ReadsWordsFromPointerAndLength) {
    const uint8_t bytes[] = {0xDE, 0xAD, 0xBE, 0xEF, 0x01};
    ByteReader reader(bytes, 4);
    uint32_t word = 0;
    EXPECT_TRUE(reader.readU32(word));
    EXPECT_EQ(word, 0xDEADBEEFu);
    EXPECT_FALSE(reader.failed());
    std::vector<uint8_t> none;
    EXPECT_TRUE(reader.readBytes(0, none));
    uint16_t half = 0;
    EXPECT_FALSE(reader.readU16(half));
}

TEST(Hex, BytesToUpperCaseDigits) {
    EXPECT_EQ(bytesToHex({0x00, 0xAB}), "00AB");
    EXPECT_EQ(bytesToHex({}), "");
    EXPECT_EQ(bytesToHex({0x0f, 0xf0, 0x7e}), "0FF07E");
}

TEST(Hex, TextToBytes) {
    EXPECT_EQ(hexToBytes("0a1B"), (std::vector<uint8_t>{0x0A, 0x1B}));
    EXPECT_EQ(hexToBytes("0G"), std::vector<uint8_t>{});
    EXPECT_EQ(hexToBytes("ABC"), std::vector<uint8_t>{0x00});
    EXPECT_EQ(hexToBytes(""), std::vector<uint8_t>{});
    EXPECT_EQ(hexToBytes("ffG0"), std::vector<uint8_t>{}) << "a late bad digit empties it all";
    const std::vector<uint8_t> all = {0x00, 0x01, 0x7F, 0x80, 0xFE, 0xFF};
    EXPECT_EQ(hexToBytes(bytesToHex(all)), all);
}

TEST(Substitute, FillsEveryPlaceholderInListOrder) {
    EXPECT_EQ(substitute("x%B%y%A%%A%", Values{{"%A%", "1"}, {"%B%", "22"}}), "x22y11");
    EXPECT_EQ(substitute("no placeholders", Values{{"%A%", "1"}}), "no placeholders");
    // A value may introduce the next pair's placeholder; pairs run in list order.
    EXPECT_EQ(substitute("%A%", Values{{"%A%", "<%B%>"}, {"%B%", "b"}}), "<b>");
    EXPECT_EQ(substitute("a%A%b%A%c", Values{{"%A%", ""}}), "abc");
}

TEST(Substitute, ValueContainingItsPlaceholderTerminates) {
    EXPECT_EQ(substitute("[%A%]", Values{{"%A%", "a%A%"}}), "[a%A%]");
    EXPECT_EQ(substitute("%A%-%A%", Values{{"%A%", "%A%%A%"}}), "%A%%A%-%A%%A%");
}

TEST(Substitute, OccurrenceReachingPastTheValueIsStillReplaced) {
    // The search resumes one character after the replacement began, so "x%" followed by "A%"
    // forms a fresh placeholder that is replaced too.
    EXPECT_EQ(substitute("%A%A%", Values{{"%A%", "x%"}}), "xx%");
}

TEST(SplitString, KeepsEmptyPieces) {
    EXPECT_EQ(splitString("a,,b,", ','), (std::vector<std::string>{"a", "", "b", ""}));
    EXPECT_EQ(splitString("", ','), std::vector<std::string>{""});
    EXPECT_EQ(splitString("abc", ','), std::vector<std::string>{"abc"});
    EXPECT_EQ(splitString(",", ','), (std::vector<std::string>{"", ""}));
}

TEST(TextBetween, FindsTextAfterStartUpToEnd) {
    EXPECT_EQ(textBetween("k=v;", "k=", ";"), "v");
    EXPECT_EQ(textBetween("k=v;", "x=", ";"), "");
    EXPECT_EQ(textBetween("a=1;k=v", "k=", ";"), "v") << "no end marker after the start";
    EXPECT_EQ(textBetween("k=v;w;", "k=", ";"), "v");
}

TEST(SleepMs, WaitsAtLeastThatLong) {
    const auto start = std::chrono::steady_clock::now();
    sleepMs(20);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
    sleepMs(0);
    sleepMs(-5);
}

} // namespace
