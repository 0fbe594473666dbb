#include "media/fec/decode_plan.h"

#include <cauchy.h>
#include <cstdlib>
#include <galois.h>
#include <jerasure.h>
#include <mutex>

#include "media/fec/fec_packet.h"

namespace {

struct FreeMatrix {
    void operator()(int* matrix) const { std::free(matrix); }
};

bool ascendingWithin(const std::vector<uint16_t>& values, int low, int high) {
    int previous = low - 1;
    for (uint16_t value : values) {
        if (value <= previous || value >= high) {
            return false;
        }
        previous = value;
    }
    return true;
}

} // namespace

void ensureGaloisFieldReady() {
    static std::once_flag ready;
    // Any single multiplication makes jerasure build its default w = 8 field.
    std::call_once(ready, [] { galois_single_multiply(1, 1, 8); });
}

std::string DecodePlan::key(int k, int m, const std::vector<uint16_t>& lostData,
                            const std::vector<uint16_t>& parityUsed) {
    std::string key;
    key.reserve(4 + 2 * (lostData.size() + parityUsed.size()));
    auto put = [&key](int value) {
        key.push_back(static_cast<char>(value >> 8));
        key.push_back(static_cast<char>(value));
    };
    put(k);
    put(m);
    // Both lists have the same length, so their boundary needs no marker.
    for (uint16_t index : lostData) {
        put(index);
    }
    for (uint16_t index : parityUsed) {
        put(index);
    }
    return key;
}

// With D the lost data blocks and P the parity blocks used, each parity block p satisfies
//   sum over i in D of C[p][i] d_i  =  parity_p + sum over i not in D of C[p][i] d_i
// (addition is XOR), so with A = C[P][D] the lost blocks are A^-1 times the right-hand sides.
// Expanding that product gives one coefficient per surviving data block and per parity block.
// Only the small |D| x |D| matrix A is inverted; the bytes come out as those of any other
// correct decoding of the same code, since a lost block is one fixed linear combination of
// the k sources.
std::shared_ptr<const DecodePlan> buildDecodePlan(int k, int m,
                                                  const std::vector<uint16_t>& lostData,
                                                  const std::vector<uint16_t>& parityUsed) {
    if (k < 1 || m < 0 || k + m > kFecMaxPackets || lostData.size() != parityUsed.size() ||
        lostData.size() > static_cast<size_t>(m) || !ascendingWithin(lostData, 0, k) ||
        !ascendingWithin(parityUsed, k, k + m)) {
        return nullptr;
    }
    ensureGaloisFieldReady();
    auto plan = std::make_shared<DecodePlan>();
    plan->k = k;
    plan->m = m;
    plan->outputs = lostData;
    size_t next = 0;
    for (int i = 0; i < k; ++i) {
        if (next < lostData.size() && lostData[next] == i) {
            ++next;
        } else {
            plan->sources.push_back(static_cast<uint16_t>(i));
        }
    }
    plan->sources.insert(plan->sources.end(), parityUsed.begin(), parityUsed.end());
    const int e = static_cast<int>(lostData.size());
    if (e == 0) {
        return plan;
    }

    std::unique_ptr<int, FreeMatrix> cauchy(cauchy_original_coding_matrix(k, m, 8));
    if (!cauchy) {
        return nullptr;
    }
    auto coefficient = [&](int parityIndex, int dataIndex) {
        return cauchy.get()[(parityIndex - k) * k + dataIndex];
    };
    std::vector<int> a(static_cast<size_t>(e) * e);
    std::vector<int> inverse(a.size());
    for (int row = 0; row < e; ++row) {
        for (int col = 0; col < e; ++col) {
            a[row * e + col] = coefficient(parityUsed[row], lostData[col]);
        }
    }
    // Any square submatrix of a Cauchy matrix is invertible; a failure means a broken library.
    if (jerasure_invert_matrix(a.data(), inverse.data(), e, 8) != 0) {
        return nullptr;
    }
    const int surviving = k - e;
    plan->coefficients.resize(static_cast<size_t>(e) * k);
    for (int r = 0; r < e; ++r) {
        uint8_t* row = plan->coefficients.data() + static_cast<size_t>(r) * k;
        for (int s = 0; s < surviving; ++s) {
            int sum = 0;
            for (int c = 0; c < e; ++c) {
                sum ^= galois_single_multiply(inverse[r * e + c],
                                              coefficient(parityUsed[c], plan->sources[s]), 8);
            }
            row[s] = static_cast<uint8_t>(sum);
        }
        for (int c = 0; c < e; ++c) {
            row[surviving + c] = static_cast<uint8_t>(inverse[r * e + c]);
        }
    }
    return plan;
}
