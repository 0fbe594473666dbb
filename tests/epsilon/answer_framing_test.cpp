// The answer framing and judgement on their own: reads in, exactly the announced text out, and
// the verdict on that text.
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "epsilon/answer_framing.h"
#include "epsilon/control_answer.h"

static std::ostream& operator<<(std::ostream& out, AnswerFraming::Progress progress) {
    const char* names[] = {"NeedMore", "Complete", "Failed"};
    return out << names[static_cast<int>(progress)];
}

static std::ostream& operator<<(std::ostream& out, AnswerVerdict verdict) {
    const char* names[] = {"Accepted", "Rejected", "Unmatched", "Malformed"};
    return out << names[static_cast<int>(verdict)];
}

namespace {

using Bytes = std::vector<uint8_t>;
using Progress = AnswerFraming::Progress;

Bytes bytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes lengthField(uint32_t n) {
    return {static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
            static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
}

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const std::string kText = R"({"resp_status":0,"tag":7})";
const Bytes kAnswer = concat(lengthField(static_cast<uint32_t>(kText.size())), bytes(kText));

// The answer cut before each offset in `cuts` (ascending).
std::vector<Bytes> cutAt(const Bytes& answer, std::vector<size_t> cuts) {
    std::vector<Bytes> reads;
    size_t from = 0;
    cuts.push_back(answer.size());
    for (const size_t to : cuts) {
        reads.emplace_back(answer.begin() + static_cast<long>(from),
                           answer.begin() + static_cast<long>(to));
        from = to;
    }
    return reads;
}

struct FramingCase {
    const char* name;
    std::vector<Bytes> reads;
    Progress expected;
    std::string text; // for Complete
};

} // namespace

TEST(AnswerFraming, TakesExactlyTheAnnouncedBytesFromAnyCutAfterTheLengthField) {
    const uint32_t tooLong = AnswerFraming::kMaxTextLength + 1;
    const FramingCase cases[] = {
        {"one read", {kAnswer}, Progress::Complete, kText},
        {"length field alone first", cutAt(kAnswer, {4}), Progress::Complete, kText},
        {"length and part of the text", cutAt(kAnswer, {9}), Progress::Complete, kText},
        {"a byte per read after the length", cutAt(kAnswer, {4, 5, 6, 7, 8}), Progress::Complete,
         kText},
        {"surplus after the text in the same read",
         {concat(kAnswer, bytes("{\"x\":1}"))},
         Progress::Complete,
         kText},
        {"reads after completion ignored", {kAnswer, bytes("junk")}, Progress::Complete, kText},
        {"text still short",
         {Bytes(kAnswer.begin(), kAnswer.begin() + 10)},
         Progress::NeedMore,
         ""},
        {"first read of one byte", cutAt(kAnswer, {1}), Progress::Failed, ""},
        {"first read of two bytes", cutAt(kAnswer, {2}), Progress::Failed, ""},
        {"first read of three bytes", cutAt(kAnswer, {3}), Progress::Failed, ""},
        {"length zero", {concat(lengthField(0), bytes(kText))}, Progress::Failed, ""},
        {"length at the limit",
         {lengthField(AnswerFraming::kMaxTextLength)},
         Progress::NeedMore,
         ""},
        {"length above the limit",
         {concat(lengthField(tooLong), Bytes(tooLong, ' '))},
         Progress::Failed,
         ""},
        {"largest length", {lengthField(0xFFFFFFFF)}, Progress::Failed, ""},
    };
    for (const FramingCase& c : cases) {
        SCOPED_TRACE(c.name);
        AnswerFraming framing;
        Progress last = Progress::NeedMore;
        for (const Bytes& read : c.reads) {
            last = framing.feed(read);
        }
        EXPECT_EQ(last, c.expected);
        EXPECT_EQ(framing.progress(), c.expected);
        if (c.expected == Progress::Complete) {
            EXPECT_EQ(framing.text(), bytes(c.text));
        }
    }
}

TEST(ControlAnswer, AcceptsOnlyTheRequestsTagWithStatusZero) {
    enum { kKeep = -77 };
    struct Case {
        const char* name;
        std::string text;
        AnswerVerdict verdict;
        int status; // kKeep: untouched
    };
    const Case cases[] = {
        {"success", R"({"resp_status":0,"tag":7,"data":"00"})", AnswerVerdict::Accepted, 0},
        {"rejected", R"({"resp_status":3,"tag":7})", AnswerVerdict::Rejected, 3},
        {"negative status", R"({"resp_status":-1,"tag":7})", AnswerVerdict::Rejected, -1},
        {"another request's", R"({"resp_status":0,"tag":6})", AnswerVerdict::Unmatched, kKeep},
        {"another's, rejected", R"({"resp_status":4,"tag":8})", AnswerVerdict::Unmatched, kKeep},
        {"not JSON", "resp_status", AnswerVerdict::Malformed, kKeep},
        {"cut short", R"({"resp_status":0,"tag":7)", AnswerVerdict::Malformed, kKeep},
        {"two objects", R"({"resp_status":0,"tag":7}{})", AnswerVerdict::Malformed, kKeep},
        {"comment", R"({/**/"resp_status":0,"tag":7})", AnswerVerdict::Malformed, kKeep},
        {"array", R"([{"resp_status":0,"tag":7}])", AnswerVerdict::Malformed, kKeep},
        {"no tag", R"({"resp_status":0})", AnswerVerdict::Malformed, kKeep},
        {"no status", R"({"tag":7})", AnswerVerdict::Malformed, kKeep},
        {"tag as text", R"({"resp_status":0,"tag":"7"})", AnswerVerdict::Malformed, kKeep},
        {"tag as fraction", R"({"resp_status":0,"tag":7.5})", AnswerVerdict::Malformed, kKeep},
        {"tag wrapping to 7", R"({"resp_status":0,"tag":4294967303})", AnswerVerdict::Malformed,
         kKeep},
        {"status as fraction", R"({"resp_status":0.5,"tag":7})", AnswerVerdict::Malformed, kKeep},
        {"status wrapping to 0", R"({"resp_status":4294967296,"tag":7})", AnswerVerdict::Malformed,
         kKeep},
        {"status as flag", R"({"resp_status":false,"tag":7})", AnswerVerdict::Malformed, kKeep},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int status = kKeep;
        nlohmann::json response = "before";
        EXPECT_EQ(judgeAnswer(bytes(c.text), 7, status, response), c.verdict);
        EXPECT_EQ(status, c.status);
        if (c.verdict == AnswerVerdict::Accepted) {
            EXPECT_EQ(response, nlohmann::json::parse(c.text));
        } else {
            EXPECT_EQ(response, "before");
        }
    }
}
