// The camera's encoded values: the bitrate levels of CameraSettings and the mains frequency.
//
//     level   "bitrate"
//       0     1048576 (0x100000)
//       1     1258291 (0x133333)
//       2     1572864 (0x180000)
//       3     3145728 (0x300000)
#pragma once

namespace sonix {

// The level of a bitrate the car reports; -1 for a value outside the table.
int bitrateLevel(int bitrate);
// The bitrate sent for a level; a level outside 0 to 3 sends level 2's.
int bitrateOfLevel(int level);

// CameraSettings::powerFrequency (1 = 60 Hz, 2 = 50 Hz) from the car's Hz; 0 for any other.
int powerFrequencySetting(int hertz);
// The Hz sent for a setting: 60 for 1, 50 for anything else.
int powerFrequencyHertz(int setting);

} // namespace sonix
