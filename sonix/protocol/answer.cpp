#include "sonix/protocol/answer.h"

#include <cstring>
#include <string_view>

#include "client/json_read.h"

namespace sonix {

// The check follows the JSON library's destructor into its allocations; that destructor is
// noexcept, and every call that can throw is caught below.
// NOLINTNEXTLINE(bugprone-exception-escape)
Answer parseAnswer(const uint8_t* data, size_t size) noexcept {
    try {
        // Zero-terminated text: the parse ends at the first zero byte.
        const auto* text = reinterpret_cast<const char*>(data);
        const void* zero = size == 0 ? nullptr : std::memchr(data, 0, size);
        const size_t length = zero == nullptr ? size : static_cast<const uint8_t*>(zero) - data;
        // Strict: no comments, nothing but white space after the value.
        nlohmann::json parsed = nlohmann::json::parse(std::string_view(text, length), nullptr,
                                                      /*allow_exceptions=*/false,
                                                      /*ignore_comments=*/false);
        Answer answer;
        int value = 0;
        if (parsed.is_discarded() || !json_read::readInt(parsed, "resp_status", value)) {
            return answer;
        }
        const auto bits = static_cast<uint32_t>(value);
        answer.status.statusHigh = (bits >> 16) & 0xFF;
        answer.status.statusMid = (bits >> 8) & 0xFF;
        answer.status.code = bits & 0xFF;
        if (answer.status.code == 0) {
            answer.ok = true;
            answer.body = std::move(parsed);
        }
        return answer;
    } catch (...) {
        return Answer{}; // out of memory while parsing: no answer
    }
}

std::vector<uint8_t> encodeRequest(const nlohmann::json& request) noexcept {
    try {
        // No indentation, no ASCII escaping, strict UTF-8: invalid text throws.
        const std::string text =
            request.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
        return std::vector<uint8_t>(text.begin(), text.end());
    } catch (...) {
        return {};
    }
}

} // namespace sonix
