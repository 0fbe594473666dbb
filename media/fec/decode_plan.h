// How to rebuild the lost data blocks of one erasure pattern: for each lost block, one
// coefficient per source block, so that the lost block is the GF(2^8) sum of coefficient x
// source. Building a plan costs a small matrix inversion; applying it is pure region arithmetic,
// so plans are worth keeping for patterns that repeat (see DecodePlanCache).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct DecodePlan {
    int k = 0;
    int m = 0;
    // The k blocks the lost ones are computed from: the surviving data blocks in index order,
    // then the parity blocks used (packet indices, k and above), one per lost data block.
    std::vector<uint16_t> sources;
    // The lost data blocks, in index order.
    std::vector<uint16_t> outputs;
    // outputs.size() rows of k coefficients; row r, column c multiplies sources[c].
    std::vector<uint8_t> coefficients;

    // The pattern a plan answers: lost data indices and the parity indices used.
    static std::string key(int k, int m, const std::vector<uint16_t>& lostData,
                           const std::vector<uint16_t>& parityUsed);
};

// The plan for the Cauchy matrix code of jerasure's cauchy_original_coding_matrix(k, m, 8),
// with the data blocks lostData (ascending) rebuilt from the other data blocks and the parity
// blocks parityUsed (ascending packet indices, as many as lost data blocks). None when the
// arguments do not describe such a pattern.
std::shared_ptr<const DecodePlan> buildDecodePlan(int k, int m,
                                                  const std::vector<uint16_t>& lostData,
                                                  const std::vector<uint16_t>& parityUsed);

// jerasure's field for w = 8 is set up lazily on first use, which is not safe when two threads
// make that first use at once; every user of the library in the receiver calls this first.
void ensureGaloisFieldReady();
