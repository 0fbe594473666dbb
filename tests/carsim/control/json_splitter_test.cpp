#include <gtest/gtest.h>

#include "carsim/json_splitter.h"

using carsim::JsonSplitter;

namespace {

std::vector<JsonSplitter::Piece> drain(JsonSplitter& splitter) {
    std::vector<JsonSplitter::Piece> pieces;
    while (auto piece = splitter.next()) {
        pieces.push_back(*piece);
    }
    return pieces;
}

void feed(JsonSplitter& splitter, const std::string& text) {
    splitter.append(text.data(), text.size());
}

} // namespace

TEST(JsonSplitter, CutsObjectsWrittenBackToBackInOneRead) {
    JsonSplitter splitter;
    feed(splitter, R"({"type":"heartbeat"}{"type":"getsdspace"})");
    auto pieces = drain(splitter);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].bytes, R"({"type":"heartbeat"})");
    EXPECT_EQ(pieces[1].bytes, R"({"type":"getsdspace"})");
    EXPECT_TRUE(pieces[0].isObject && pieces[1].isObject);
}

TEST(JsonSplitter, WaitsForTheRestOfAnObjectSplitAcrossReads) {
    JsonSplitter splitter;
    feed(splitter, R"({"a":{"b":)");
    EXPECT_TRUE(drain(splitter).empty());
    feed(splitter, R"(1}})");
    auto pieces = drain(splitter);
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(pieces[0].bytes, R"({"a":{"b":1}})");
}

TEST(JsonSplitter, BracesAndEscapedQuotesInsideStringsDoNotCount) {
    JsonSplitter splitter;
    std::string tricky = R"({"ssid":"}{\"x\\","pwd":"{"})";
    feed(splitter, tricky + "{}");
    auto pieces = drain(splitter);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].bytes, tricky);
    EXPECT_EQ(pieces[1].bytes, "{}");
}

TEST(JsonSplitter, BytesOutsideObjectsComeOutAsJunkUnchanged) {
    JsonSplitter splitter;
    feed(splitter, "\r\nxx{\"a\":1}\n");
    auto pieces = drain(splitter);
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[0].bytes, "\r\nxx");
    EXPECT_FALSE(pieces[0].isObject);
    EXPECT_TRUE(pieces[1].isObject);
    EXPECT_EQ(pieces[2].bytes, "\n");
}

TEST(JsonSplitter, AnObjectThatNeverClosesIsDroppedOnceTooLong) {
    JsonSplitter splitter;
    feed(splitter, "{\"a\":\"" + std::string(JsonSplitter::kMaxObject, 'x'));
    auto pieces = drain(splitter);
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_FALSE(pieces[0].isObject);
    feed(splitter, "{}");
    pieces = drain(splitter);
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(pieces[0].bytes, "{}");
}
