#include "epsilon/control_answer.h"

#include <limits>
#include <optional>

namespace {

std::optional<int> intMember(const nlohmann::json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end()) {
        return std::nullopt;
    }
    if (found->is_number_unsigned()) {
        const auto value = found->get<uint64_t>();
        if (value > static_cast<uint64_t>(std::numeric_limits<int>::max())) {
            return std::nullopt;
        }
        return static_cast<int>(value);
    }
    if (found->is_number_integer()) {
        const auto value = found->get<int64_t>();
        if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) {
            return std::nullopt;
        }
        return static_cast<int>(value);
    }
    return std::nullopt;
}

} // namespace

AnswerVerdict judgeAnswer(const std::vector<uint8_t>& text, int tag, int& status,
                          nlohmann::json& response) noexcept {
    try {
        nlohmann::json answer = nlohmann::json::parse(text.begin(), text.end(), nullptr,
                                                      /*allow_exceptions=*/false,
                                                      /*ignore_comments=*/false);
        if (!answer.is_object()) {
            return AnswerVerdict::Malformed; // also a text that did not parse (discarded)
        }
        const std::optional<int> answerStatus = intMember(answer, "resp_status");
        const std::optional<int> answerTag = intMember(answer, "tag");
        if (!answerStatus || !answerTag) {
            return AnswerVerdict::Malformed;
        }
        if (*answerTag != tag) {
            return AnswerVerdict::Unmatched;
        }
        status = *answerStatus;
        if (status != 0) {
            return AnswerVerdict::Rejected;
        }
        response = std::move(answer);
        return AnswerVerdict::Accepted;
    } catch (...) {
        return AnswerVerdict::Malformed; // out of memory while parsing
    }
}
