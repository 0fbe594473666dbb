// The request texts byte for byte and the judging of the car's answers.
#include <gtest/gtest.h>

#include "media/rtsp/rtsp_answer.h"
#include "media/rtsp/rtsp_requests.h"
#include "tests/support/bounded_wait.h"

namespace {

const std::string kUserAgent = "User-Agent: LIVE555 Streaming Media v2012.02.04\r\n";

TEST(RtspTexts, TemplatesAreStoredByteForByte) {
    const struct {
        std::string_view stored;
        std::string expected;
        size_t length;
    } cases[] = {
        {kRtspOptionsTemplate,
         "OPTIONS rtsp://192.168.99.1/media/stream2 RTSP/1.0\r\n" + kUserAgent + "CSeq: 2\r\n\r\n",
         112},
        {kRtspDescribeTemplate,
         "DESCRIBE rtsp://192.168.99.1/media/stream2 RTSP/1.0\r\n" + kUserAgent +
             "CSeq: 3\r\nAccept: application/sdp\r\n\r\n",
         138},
        {kRtspSetupTemplate,
         "SETUP rtsp://192.168.99.1/media/stream2/stream=0 RTSP/1.0\r\n" + kUserAgent +
             "CSeq: 4\r\nTransport: RTP/AVP;unicast;{{fecEnable}}client_port={{rtpPort}}-"
             "{{rtcpPort}}\r\n\r\n",
         197},
        {kRtspPlayTemplate,
         "PLAY rtsp://192.168.99.1/media/stream2/ RTSP/1.0\r\n" + kUserAgent +
             "Session: {{rtpSessionTag}}\r\nCSeq: 5\r\nRange: npt=0.000-\r\n\r\n",
         157},
        {kRtspTeardownTemplate,
         "TEARDOWN rtsp://192.168.99.1/media/stream2/ RTSP/1.0\r\n" + kUserAgent +
             "Session: {{rtpSessionTag}}\r\nCSeq: 6\r\n\r\n",
         142},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.stored, c.expected);
        EXPECT_EQ(c.stored.size(), c.length) << c.expected;
    }
    EXPECT_EQ(rtspOptionsRequest(), kRtspOptionsTemplate);
    EXPECT_EQ(rtspDescribeRequest(), kRtspDescribeTemplate);
}

TEST(RtspTexts, FilledRequestsCarryFecThePortsAndTheSessionUnchanged) {
    EXPECT_EQ(rtspSetupRequest(5000, 65535),
              "SETUP rtsp://192.168.99.1/media/stream2/stream=0 RTSP/1.0\r\n" + kUserAgent +
                  "CSeq: 4\r\nTransport: RTP/AVP;unicast;fec;client_port=5000-65535\r\n\r\n");
    // The car's text goes back as it came, even when it holds the placeholder itself (filling
    // it in again and again would never end).
    const std::string tag = "{{rtpSessionTag}}x{{rtpSessionTag}};timeout=60";
    std::string play, teardown;
    bounded::run(
        [&] {
            play = rtspPlayRequest(tag);
            teardown = rtspTeardownRequest(tag);
        },
        "filling in the session");
    EXPECT_EQ(play, "PLAY rtsp://192.168.99.1/media/stream2/ RTSP/1.0\r\n" + kUserAgent +
                        "Session: " + tag + "\r\nCSeq: 5\r\nRange: npt=0.000-\r\n\r\n");
    EXPECT_EQ(teardown, "TEARDOWN rtsp://192.168.99.1/media/stream2/ RTSP/1.0\r\n" + kUserAgent +
                            "Session: " + tag + "\r\nCSeq: 6\r\n\r\n");
}

TEST(RtspAnswers, SuccessStatusCountsAnywhereInTheRead) {
    const struct {
        std::string answer;
        int count;
    } cases[] = {
        {"", 0},
        {"RTSP/1.0 200 O", 0},
        {"RTSP/1.0 404 Not Found\r\nCSeq: 3\r\n\r\n", 0},
        {"RTSP/1.0 200 OK", 1},
        {"garbage before RTSP/1.0 200 OK\r\n\r\n", 1},
        {"RTSP/1.0 200 OK\r\nCSeq: 2\r\n\r\nRTSP/1.0 200 OK\r\nCSeq: 2\r\n\r\n", 2},
        {"RTSP/1.0 200 OKRTSP/1.0 200 OKRTSP/1.0 200 OK", 3},
        {std::string("\0RTSP/1.0 200 OK\0", 17), 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rtspOkCount(c.answer), c.count) << c.answer;
        EXPECT_EQ(isRtspOk(c.answer), c.count > 0) << c.answer;
    }
}

TEST(RtspAnswers, SessionIsTakenWholeUpToTheLineEnd) {
    const struct {
        std::string answer;
        std::string session;
    } cases[] = {
        {"RTSP/1.0 200 OK\r\nSession: 1A2B;timeout=60\r\nCSeq: 4\r\n\r\n", "1A2B;timeout=60"},
        {"RTSP/1.0 200 OK\r\nSession: first\r\nSession: second\r\n\r\n", "first"},
        {"RTSP/1.0 200 OK\r\nSession: to the end", "to the end"},
        {"RTSP/1.0 200 OK\r\nSession: a\rb\nc\r\n", "a\rb\nc"},
        {"RTSP/1.0 200 OK\r\nSession: \r\n\r\n", ""},
        {"RTSP/1.0 200 OK\r\nSession:1A2B\r\n\r\n", ""},
        {"RTSP/1.0 200 OK\r\nCSeq: 4\r\n\r\n", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rtspSessionTag(c.answer), c.session) << c.answer;
    }
}

} // namespace
