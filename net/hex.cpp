#include "net/hex.h"

#include <cctype>

namespace {
int digitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}
} // namespace

std::string bytesToHex(const std::vector<uint8_t>& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const uint8_t byte : bytes) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0F]);
    }
    return text;
}

std::vector<uint8_t> hexToBytes(const std::string& text) {
    std::vector<uint8_t> bytes(text.size() / 2, 0);
    if (text.empty() || text.size() % 2 != 0) {
        return bytes;
    }
    for (size_t i = 0; i < bytes.size(); ++i) {
        const int high =
            digitValue(static_cast<char>(std::toupper(static_cast<unsigned char>(text[2 * i]))));
        const int low = digitValue(
            static_cast<char>(std::toupper(static_cast<unsigned char>(text[2 * i + 1]))));
        if (high < 0 || low < 0) {
            return {};
        }
        bytes[i] = static_cast<uint8_t>(high * 16 + low);
    }
    return bytes;
}
