#include "carsim/endpoint/wire_log.h"

#include <chrono>

#include <nlohmann/json.hpp>

#include "carsim/endpoint/socket_util.h"

namespace carsim {

WireLog::~WireLog() {
    if (file != nullptr) {
        std::fclose(file);
    }
}

bool WireLog::open(const std::string& path) {
    std::lock_guard lock(mutex);
    if (file != nullptr) {
        std::fclose(file);
    }
    file = std::fopen(path.c_str(), "a");
    return file != nullptr;
}

bool isPrintableUtf8(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if ((c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7F) {
                return false;
            }
            ++i;
            continue;
        }
        size_t extra = 0;
        uint32_t code = 0;
        if ((c & 0xE0) == 0xC0) {
            extra = 1;
            code = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            code = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            code = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size()) {
            return false;
        }
        for (size_t k = 1; k <= extra; ++k) {
            auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (next & 0x3F);
        }
        static const uint32_t smallest[] = {0, 0x80, 0x800, 0x10000};
        if (code < smallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}

void WireLog::record(const std::string& endpoint, const sockaddr_storage& peer, const void* data,
                     size_t size) {
    std::lock_guard lock(mutex);
    if (file == nullptr) {
        return;
    }
    static const char digits[] = "0123456789abcdef";
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::string hex;
    hex.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        hex.push_back(digits[bytes[i] >> 4]);
        hex.push_back(digits[bytes[i] & 15]);
    }
    double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    nlohmann::json line = {
        {"t", now}, {"endpoint", endpoint}, {"peer", formatAddress(peer)}, {"hex", hex}};
    std::string text(static_cast<const char*>(data), size);
    if (isPrintableUtf8(text)) {
        line["text"] = text;
    }
    std::string out = line.dump() + "\n";
    std::fwrite(out.data(), 1, out.size(), file);
    std::fflush(file);
}

} // namespace carsim
