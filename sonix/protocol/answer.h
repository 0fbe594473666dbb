// The wire form of the Sonix control channel (TCP 8080).
//
// A request is the compact JSON text of one object, members in ascending byte order of their
// keys, and nothing else: no length, delimiter, terminating zero or line break.
//
//     {"flag":"0A","type":"mendrel_acknowledge_error"}
//
// An answer is whatever one read of the control socket delivered (at most 2048 bytes; there is
// no reassembly). It is read as zero-terminated text, so a terminating zero byte, and anything
// after it, is ignored; white space may follow the object, nothing else may.
//
//     {"resp_status":V, ...members of the command...}[00 ...]
//
// "resp_status" V is read as an integer (a boolean counts 0 or 1, a floating number is
// truncated toward zero) and split into the status:
//
//     bit  31      24 23      16 15       8 7        0
//         +----------+----------+----------+----------+
//         | ignored  |statusHigh|statusMid |   code   |   code 0 = success
//         +----------+----------+----------+----------+
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <nlohmann/json.hpp>

namespace sonix {

// The code of an exchange that no answer decided: no answer, no parse, no numeric status.
constexpr uint32_t kNoAnswer = 0xFFFFFFFF;

// The outcome of one exchange; only `code` is ever judged.
struct RespStatus {
    uint32_t statusHigh = 0;
    uint32_t statusMid = 0;
    uint32_t code = kNoAnswer;
};

struct Answer {
    // The status was read and its code is 0.
    bool ok = false;
    RespStatus status;
    // The parsed object when ok; null otherwise (a refused answer's body is not handed out).
    nlohmann::json body;
};

// One answer's bytes to its outcome. Never throws, whatever the bytes.
Answer parseAnswer(const uint8_t* data, size_t size) noexcept;

// The request's bytes; empty when it cannot be serialised (a string that is not UTF-8).
std::vector<uint8_t> encodeRequest(const nlohmann::json& request) noexcept;

} // namespace sonix
