#include "carsim/discovery/discovery_answer.h"

#include <algorithm>
#include <cstring>

namespace carsim {

uint32_t adler32(uint32_t start, const uint8_t* data, size_t size) {
    constexpr uint32_t modulus = 65521;
    uint32_t a = start & 0xFFFF;
    uint32_t b = start >> 16;
    for (size_t i = 0; i < size; ++i) {
        a = (a + data[i]) % modulus;
        b = (b + a) % modulus;
    }
    return (b << 16) | a;
}

bool isProbe(const uint8_t* data, size_t size) {
    static const uint8_t probe[kProbeSize] = {'M', 'D', 'P', 'N', 1, 0, 0, 0};
    return size == kProbeSize && std::memcmp(data, probe, kProbeSize) == 0;
}

std::array<uint8_t, 16> idBytesForName(const std::string& name) {
    // Two FNV-1a passes with different offsets give 16 well-mixed bytes.
    std::array<uint8_t, 16> id{};
    for (int half = 0; half < 2; ++half) {
        uint64_t hash =
            1469598103934665603ULL ^ static_cast<uint64_t>(half * 0x9E3779B97F4A7C15ULL);
        for (char c : name) {
            hash ^= static_cast<uint8_t>(c);
            hash *= 1099511628211ULL;
        }
        for (int i = 0; i < 8; ++i) {
            id[static_cast<size_t>(half * 8 + i)] = static_cast<uint8_t>(hash >> (8 * i));
        }
    }
    return id;
}

namespace {

void putLe(std::vector<uint8_t>& out, size_t offset, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out[offset + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
    }
}

void putText(std::vector<uint8_t>& out, size_t offset, size_t field, const std::string& text) {
    std::memcpy(out.data() + offset, text.data(), std::min(field, text.size()));
}

void seal(std::vector<uint8_t>& answer, uint32_t adlerStart) {
    putLe(answer, 112, adler32(adlerStart, answer.data(), 112), 4);
}

} // namespace

std::vector<uint8_t> buildAnswer(const DiscoveryIdentity& identity) {
    std::vector<uint8_t> answer(kAnswerSize, 0);
    std::memcpy(answer.data(), "MDPR", 4);
    putLe(answer, 4, kAnswerSize, 2);
    answer[7] = identity.kind;
    putLe(answer, 10, identity.word10, 2);
    putText(answer, 16, 32, identity.text16);
    putText(answer, 48, 16, identity.text48);
    std::memcpy(answer.data() + 64, identity.bytes64.data(), 16);
    putText(answer, 80, 32, identity.name);
    seal(answer, 0);
    return answer;
}

std::vector<std::vector<uint8_t>> buildMalformedAnswers(const DiscoveryIdentity& identity) {
    auto variant = [&identity](const char* suffix) {
        DiscoveryIdentity bad = identity;
        bad.name = identity.name.substr(0, 32 - std::strlen(suffix)) + suffix;
        bad.bytes64 = idBytesForName(bad.name);
        return buildAnswer(bad);
    };
    // The checksum as the standard Adler-32 computes it (start value 1).
    std::vector<uint8_t> standardChecksum = variant("-badsum");
    seal(standardChecksum, 1);
    // A length field that disagrees with the datagram, checksum valid over the bytes sent.
    std::vector<uint8_t> wrongLength = variant("-badlen");
    putLe(wrongLength, 4, kAnswerSize - 1, 2);
    seal(wrongLength, 0);
    return {standardChecksum, wrongLength};
}

} // namespace carsim
