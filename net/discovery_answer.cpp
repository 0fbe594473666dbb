#include "net/discovery_answer.h"

#include <algorithm>
#include <cstring>

#include "net/adler32.h"

namespace {

constexpr uint8_t kAnswerMagic[4] = {'M', 'D', 'P', 'R'};
constexpr uint32_t kChecksumStart = 0;
constexpr size_t kChecked = 112;

uint32_t readLe16(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8;
}

uint32_t readLe32(const uint8_t* at) {
    return readLe16(at) | readLe16(at + 2) << 16;
}

std::string textField(const uint8_t* at, size_t field) {
    const uint8_t* end = std::find(at, at + field, uint8_t{0});
    return std::string(reinterpret_cast<const char*>(at), static_cast<size_t>(end - at));
}

} // namespace

std::optional<DiscoveryRecord> parseDiscoveryAnswer(const uint8_t* bytes, size_t received,
                                                    const sockaddr_storage& source) {
    if (received != kDiscoveryAnswerSize ||
        std::memcmp(bytes, kAnswerMagic, sizeof(kAnswerMagic)) != 0 ||
        readLe16(bytes + 4) != kDiscoveryAnswerSize ||
        readLe32(bytes + kChecked) != adler32(kChecksumStart, bytes, kChecked)) {
        return std::nullopt;
    }
    DiscoveryRecord record;
    record.kind = bytes[7];
    record.text48 = textField(bytes + 48, 16);
    record.name = textField(bytes + 80, 32);
    record.bytes64.assign(bytes + 64, bytes + 80);
    record.word10 = readLe16(bytes + 10);
    record.text16 = textField(bytes + 16, 32);
    record.address = source;
    return record;
}
