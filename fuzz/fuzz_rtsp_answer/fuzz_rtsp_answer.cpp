// Arbitrary bytes as the car's answers. The first byte cuts the rest into two TCP reads.
// Oracles: the success status is counted exactly (no more than a plain scan finds, no read
// counting more than the whole), the session identifier is the text after "Session: " up to CR
// LF, and the requests that carry it back hold it verbatim and terminate whatever it contains.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "media/rtsp/rtsp_answer.h"
#include "media/rtsp/rtsp_requests.h"

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

int plainCount(const std::string& text) {
    int count = 0;
    for (size_t i = 0; i + kRtspOkStatus.size() <= text.size();) {
        if (std::memcmp(text.data() + i, kRtspOkStatus.data(), kRtspOkStatus.size()) == 0) {
            ++count;
            i += kRtspOkStatus.size();
        } else {
            ++i;
        }
    }
    return count;
}

void checkSession(const std::string& answer) {
    const std::string tag = rtspSessionTag(answer);
    const size_t header = answer.find("Session: ");
    if (header == std::string::npos) {
        check(tag.empty());
        return;
    }
    const size_t from = header + 9;
    check(answer.compare(from, tag.size(), tag) == 0);
    check(tag.find("\r\n") == std::string::npos);
    const size_t after = from + tag.size();
    check(after == answer.size() || answer.compare(after, 2, "\r\n") == 0);

    const size_t placeholder = std::strlen("{{rtpSessionTag}}");
    const std::string play = rtspPlayRequest(tag);
    check(play.size() == kRtspPlayTemplate.size() - placeholder + tag.size());
    check(play.find("\r\nSession: " + tag + "\r\nCSeq: 5\r\n") != std::string::npos);
    const std::string teardown = rtspTeardownRequest(tag);
    check(teardown.size() == kRtspTeardownTemplate.size() - placeholder + tag.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string whole(reinterpret_cast<const char*>(data) + 1, size - 1);
    const size_t cut = data[0] % (whole.size() + 1);
    const std::string first = whole.substr(0, cut);
    const std::string second = whole.substr(cut);

    const int count = rtspOkCount(whole);
    check(count == plainCount(whole));
    check(isRtspOk(whole) == (count > 0));
    // The status cannot overlap itself, so the reads' counts add up to at most the whole's.
    check(rtspOkCount(first) + rtspOkCount(second) <= count);

    checkSession(whole);
    checkSession(second);
    return 0;
}
