// Judges the JSON text of one control-channel answer against the request it should answer.
#pragma once

#include <cstdint>
#include <vector>

#include <nlohmann/json.hpp>

enum class AnswerVerdict {
    Accepted,  // the request's tag and "resp_status" 0
    Rejected,  // the request's tag and a nonzero "resp_status"
    Unmatched, // a well-formed answer to some other request (a late one, or a confused car)
    Malformed, // not a JSON object, or "resp_status" or "tag" missing or not an int
};

// The text is parsed strictly (no comments). "resp_status" and "tag" must be JSON integers within
// the int range: a fraction or a wider value would otherwise be cut down to a different number,
// which could turn a failure into success or one request's answer into another's.
//
// `status` is written only for Accepted and Rejected, `response` (the whole object) only for
// Accepted; otherwise both keep what they held.
AnswerVerdict judgeAnswer(const std::vector<uint8_t>& text, int tag, int& status,
                          nlohmann::json& response) noexcept;
