// Runs one cell of the fault matrix and returns what it measured, as one JSON object.
#pragma once

#include <nlohmann/json.hpp>

#include "bench/fault_matrix/cells.h"
#include "bench/fault_matrix/decoder_tap.h"
#include "bench/fault_matrix/source_under_test.h"
#include "bench/fault_matrix/stats_tap.h"

namespace faults {

struct Bench {
    zeb_module_t* module = nullptr;
    LogTap* log = nullptr;
    StatsTap* stats = nullptr;
    const ReferenceStream* reference = nullptr;
    std::string referencePath;
};

nlohmann::json runCell(const Cell& cell, Bench& bench);

} // namespace faults
