// The judgement of an answer's text: only the request's own tag with status 0 succeeds, and
// nothing is cut down to a number it does not hold. (The framing is exercised over real reads by
// the control channel tests and by its fuzz target.)
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "epsilon/control_answer.h"

static std::ostream& operator<<(std::ostream& out, AnswerVerdict verdict) {
    const char* names[] = {"Accepted", "Rejected", "Unmatched", "Malformed"};
    return out << names[static_cast<int>(verdict)];
}

namespace {

std::vector<uint8_t> bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

} // namespace

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
