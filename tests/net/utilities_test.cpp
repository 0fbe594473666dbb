#include <cstdint>
#include <list>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "net/adler32.h"
#include "net/byte_reader.h"
#include "net/hex.h"
#include "net/text_utils.h"

namespace {

using Values = std::list<std::pair<std::string, std::string>>;
using Strings = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

TEST(Adler32, StartsFromTheGivenValueAndNeverOverflows) {
    const uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(adler32(0, abc, 3), 0x024A0126u);
    EXPECT_EQ(adler32(1, abc, 3), 0x024D0127u);
    EXPECT_EQ(adler32(0x12345678u, abc, 0), 0x12345678u);
    EXPECT_EQ(adler32(0, Bytes(112, 0).data(), 112), 0u);

    // Several 5552-byte runs of 0xFF, the worst case for the deferred modulo.
    const Bytes bytes(20000, 0xFF);
    uint64_t a = 1;
    uint64_t b = 0;
    for (const uint8_t byte : bytes) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    EXPECT_EQ(adler32(1, bytes.data(), 20000), static_cast<uint32_t>((b << 16) | a));
}

TEST(ByteReader, ReadsBigEndianAndFailsWithoutMoving) {
    const Bytes bytes = {0x12, 0x34, 0x56};
    ByteReader reader(bytes);
    uint32_t word = 0;
    EXPECT_FALSE(reader.readU32(word));
    EXPECT_TRUE(reader.failed());
    EXPECT_EQ(reader.remaining(), 3);
    uint16_t half = 0;
    EXPECT_TRUE(reader.readU16(half));
    EXPECT_EQ(half, 0x1234);
    EXPECT_TRUE(reader.failed()) << "the flag is never cleared";
    Bytes out = {9, 9, 9};
    EXPECT_FALSE(reader.readBytes(2, out));
    EXPECT_EQ(out.size(), 3u);
    EXPECT_TRUE(reader.readBytes(1, out));
    EXPECT_EQ(out, Bytes{0x56});
    EXPECT_EQ(reader.remaining(), 0);

    const uint8_t raw[] = {0xDE, 0xAD, 0xBE, 0xEF, 0x01};
    ByteReader limited(raw, 4);
    EXPECT_TRUE(limited.readU32(word));
    EXPECT_EQ(word, 0xDEADBEEFu);
    EXPECT_FALSE(limited.readU16(half)) << "the length, not the buffer, bounds the reads";
}

TEST(Hex, UpperCaseOutAndAllOrNothingIn) {
    EXPECT_EQ(bytesToHex({0x00, 0xAB}), "00AB");
    EXPECT_EQ(hexToBytes("0a1B"), (Bytes{0x0A, 0x1B}));
    EXPECT_EQ(hexToBytes("0G"), Bytes{});
    EXPECT_EQ(hexToBytes("ABC"), Bytes{0x00});
    EXPECT_EQ(hexToBytes("ffG0"), Bytes{}) << "a late bad digit empties it all";
    const Bytes all = {0x00, 0x01, 0x7F, 0x80, 0xFE, 0xFF};
    EXPECT_EQ(hexToBytes(bytesToHex(all)), all);
}

TEST(TextUtils, Substitute) {
    EXPECT_EQ(substitute("x%B%y%A%%A%", Values{{"%A%", "1"}, {"%B%", "22"}}), "x22y11");
    EXPECT_EQ(substitute("a%A%b%A%c", Values{{"%A%", ""}}), "abc");
    // A value may introduce the next pair's placeholder; pairs run in list order.
    EXPECT_EQ(substitute("%A%", Values{{"%A%", "<%B%>"}, {"%B%", "b"}}), "<b>");
    // A value containing its own placeholder terminates.
    EXPECT_EQ(substitute("[%A%]", Values{{"%A%", "a%A%"}}), "[a%A%]");
    EXPECT_EQ(substitute("%A%-%A%", Values{{"%A%", "%A%%A%"}}), "%A%%A%-%A%%A%");
    // The search resumes one character after the replacement began, so "x%" followed by "A%"
    // forms a fresh placeholder that is replaced too.
    EXPECT_EQ(substitute("%A%A%", Values{{"%A%", "x%"}}), "xx%");
}

TEST(TextUtils, SplitStringAndTextBetween) {
    EXPECT_EQ(splitString("a,,b,", ','), (Strings{"a", "", "b", ""}));
    EXPECT_EQ(splitString("", ','), Strings{""});
    EXPECT_EQ(splitString("abc", ','), Strings{"abc"});
    EXPECT_EQ(textBetween("k=v;w;", "k=", ";"), "v") << "up to the first end marker";
    EXPECT_EQ(textBetween("k=v;", "x=", ";"), "");
    EXPECT_EQ(textBetween("a=1;k=v", "k=", ";"), "v") << "no end marker after the start";
}

} // namespace
