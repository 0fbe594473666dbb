#include <gtest/gtest.h>

#include "carsim/control/json_splitter.h"

using carsim::JsonSplitter;

namespace {

// Feeds the reads in turn; each piece comes out as "o:" (an object) or "j:" (junk) and its
// bytes, and "|" marks the end of a read.
std::string split(const std::vector<std::string>& reads) {
    JsonSplitter splitter;
    std::string out;
    for (const std::string& read : reads) {
        splitter.append(read.data(), read.size());
        while (auto piece = splitter.next()) {
            out += (piece->isObject ? "o:" : "j:") + piece->bytes + " ";
        }
        out += "|";
    }
    return out;
}

} // namespace

TEST(JsonSplitter, CutsObjectsAtTheirClosingBraceAcrossAndWithinReads) {
    EXPECT_EQ(split({R"({"type":"heartbeat"}{"type":"getsdspace"})"}),
              R"(o:{"type":"heartbeat"} o:{"type":"getsdspace"} |)");
    EXPECT_EQ(split({R"({"a":{"b":)", R"(1}})"}), R"(|o:{"a":{"b":1}} |)");
    // Braces and escaped quotes inside strings do not count.
    EXPECT_EQ(split({R"({"ssid":"}{\"x\\","pwd":"{"}{})"}),
              R"(o:{"ssid":"}{\"x\\","pwd":"{"} o:{} |)");
    EXPECT_EQ(split({"\r\nxx{\"a\":1}\n"}), "j:\r\nxx o:{\"a\":1} j:\n |");
}

TEST(JsonSplitter, AnObjectThatNeverClosesIsDroppedOnceTooLong) {
    const std::string endless = "{\"a\":\"" + std::string(JsonSplitter::kMaxObject, 'x');
    EXPECT_EQ(split({endless, "{}"}), "j:" + endless + " |o:{} |");
}
