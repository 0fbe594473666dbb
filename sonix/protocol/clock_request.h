// The car's clock request ("synctime"): the current UTC time broken down into a proleptic
// Gregorian date and time of day, always labelled "GMT".
#pragma once

#include <chrono>
#include <cstdint>

#include <nlohmann/json.hpp>

namespace sonix {

struct CivilTime {
    int64_t year = 1970;
    int month = 1;  // 1 to 12
    int day = 1;    // 1 to 31
    int hour = 0;   // 0 to 23
    int minute = 0; // 0 to 59
    int second = 0; // 0 to 59, truncated
};

// The date of a day counted from 1970-01-01 (negative before it); time of day 00:00:00.
CivilTime civilFromDays(int64_t days);

// UTC broken down from a point of the system clock, at the resolution of 100 ns ticks.
CivilTime civilTimeUtc(std::chrono::system_clock::time_point when);

// {"day":..,"hour":..,"min":..,"month":..,"sec":..,"timezone":"GMT","type":"synctime","year":..}
nlohmann::json clockRequest(const CivilTime& time);

} // namespace sonix
