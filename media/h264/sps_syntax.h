// The syntax of seq_parameter_set_data() (ITU-T H.264 7.3.2.1.1) with vui_parameters() (E.1.1)
// and hrd_parameters() (E.1.2), read from and written to an RBSP.
#pragma once

#include "media/h264/bit_reader.h"
#include "media/h264/bit_writer.h"
#include "media/h264/sps_record.h"

// Resets sps, then reads it element by element. False when the data ends early or an element
// lies outside the standard's limits (then sps holds what was read so far); the reader is left
// after the last element, before rbsp_trailing_bits().
bool readSps(BitReader& reader, SpsRecord& sps);

// Writes sps element by element (no trailing bits). A record holding a value outside the
// limits readSps accepts is not written: the writer's failure flag is set instead, so whatever
// writeSps writes, readSps reads back to the same record.
void writeSps(BitWriter& writer, const SpsRecord& sps);
