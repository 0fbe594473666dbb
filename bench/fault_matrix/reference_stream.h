// The stream a car replays in the integrity cells: the car's own test pattern, encoded once by
// this program with the car's encoder and written as an Annex B file that carsim --input loops.
// Every access unit the source hands its decoder must then be made of these bytes.
#pragma once

#include <string>

#include "bench/fault_matrix/decoder_tap.h"

namespace faults {

// Writes `frames` frames (an IDR picture every `gop`) to path and fills the reference; false
// when the encoder cannot be opened or the file written.
bool makeReferenceStream(const std::string& path, int frames, int gop, ReferenceStream& reference);

} // namespace faults
