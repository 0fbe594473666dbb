// Any bytes as an SPS NAL unit. Oracles: no crash; what cannot be rewritten comes back
// unchanged; a rewrite re-parses to the parsed record with the low-delay elements set, a second
// rewrite gives the same bytes, and no start code or its prefix (00 00 00/01/02) is inside.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "media/h264/sps_rewrite.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> nal(data, data + size);
    const std::optional<std::vector<uint8_t>> once = tryRewriteSps(nal);
    if (!once) {
        if (rewriteSps(nal) != nal) {
            std::abort();
        }
        return 0;
    }
    std::optional<SpsRecord> expected = parseSpsNal(nal);
    const std::optional<SpsRecord> reparsed = parseSpsNal(*once);
    if (!expected || !reparsed) {
        std::abort();
    }
    setLowDelay(*expected);
    if (*reparsed != *expected || tryRewriteSps(*once) != once) {
        std::abort();
    }
    for (size_t i = 0; i + 2 < once->size(); ++i) {
        if ((*once)[i] == 0 && (*once)[i + 1] == 0 && (*once)[i + 2] <= 2) {
            std::abort();
        }
    }
    return 0;
}
