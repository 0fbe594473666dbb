// Any bytes as one received discovery datagram, judged twice: from a buffer where a valid
// answer of another device was received before (its bytes stay behind a shorter datagram), and
// from an exact-size copy (ASan reports any read past the received length). Oracles: both agree;
// an accepted answer had 116 bytes, "MDPR", length field 116 and a matching start-0 Adler-32 of
// its own bytes, and its texts fit their fields. The same bytes with magic, length and checksum
// made right are accepted exactly when 116 bytes long.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "net/adler32.h"
#include "net/discovery_answer.h"

namespace {

constexpr size_t kBufferSize = 2048;

uint32_t le(const uint8_t* at, int bytes) {
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        value = value << 8 | at[i];
    }
    return value;
}

void seal(uint8_t* answer) {
    std::memcpy(answer, "MDPR", 4);
    answer[4] = 116;
    answer[5] = 0;
    const uint32_t sum = adler32(0, answer, 112);
    for (int i = 0; i < 4; ++i) {
        answer[112 + i] = static_cast<uint8_t>(sum >> (8 * i));
    }
}

// A different device's valid answer, left in the receive buffer.
std::vector<uint8_t> staleBuffer() {
    std::vector<uint8_t> buffer(kBufferSize, 0);
    std::memcpy(&buffer[80], "stale", 5);
    std::fill(buffer.begin() + 64, buffer.begin() + 80, 0x5A);
    seal(buffer.data());
    return buffer;
}

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void checkAccepted(const DiscoveryRecord& record, const uint8_t* data, size_t size) {
    check(size == 116 && std::memcmp(data, "MDPR", 4) == 0 && le(data + 4, 2) == 116 &&
          le(data + 112, 4) == adler32(0, data, 112));
    check(record.kind == data[7] && record.word10 == le(data + 10, 2));
    check(record.text16.size() <= 32 && record.text48.size() <= 16 && record.name.size() <= 32);
    check(std::memcmp(record.name.data(), data + 80, record.name.size()) == 0);
    check(record.bytes64 == std::vector<uint8_t>(data + 64, data + 80));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size = std::min(size, kBufferSize);
    const sockaddr_storage source{};
    static const std::vector<uint8_t> stale = staleBuffer();

    std::vector<uint8_t> buffer = stale;
    std::copy(data, data + size, buffer.begin());
    const std::optional<DiscoveryRecord> fromBuffer =
        parseDiscoveryAnswer(buffer.data(), size, source);
    const std::vector<uint8_t> exact(data, data + size);
    const std::optional<DiscoveryRecord> fromExact =
        parseDiscoveryAnswer(exact.data(), size, source);
    check(fromBuffer.has_value() == fromExact.has_value());
    if (fromExact) {
        checkAccepted(*fromExact, data, size);
        checkAccepted(*fromBuffer, data, size);
    }

    if (size >= 116) {
        std::vector<uint8_t> sealed(data, data + size);
        seal(sealed.data());
        const std::optional<DiscoveryRecord> record =
            parseDiscoveryAnswer(sealed.data(), size, source);
        check(record.has_value() == (size == 116));
        if (record) {
            checkAccepted(*record, sealed.data(), size);
        }
    }
    return 0;
}
