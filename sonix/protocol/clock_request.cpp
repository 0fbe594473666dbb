#include "sonix/protocol/clock_request.h"

namespace sonix {

namespace {
using Ticks = std::chrono::duration<int64_t, std::ratio<1, 10000000>>; // 100 ns
constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kTicksPerDay = 86400 * kTicksPerSecond;

int64_t floorDiv(int64_t value, int64_t divisor) {
    const int64_t quotient = value / divisor;
    return (value % divisor != 0 && value < 0) ? quotient - 1 : quotient;
}
} // namespace

CivilTime civilFromDays(int64_t days) {
    // Days to civil date, with 400-year eras of 146097 days and years that begin on 1 March,
    // so the leap day is the last day of the internal year.
    const int64_t z = days + 719468; // days from 0000-03-01
    const int64_t era = floorDiv(z, 146097);
    const int64_t dayOfEra = z - era * 146097; // 0 to 146096
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365; // 0 to 399
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthFromMarch = (5 * dayOfYear + 2) / 153; // 0 = March, 11 = February
    CivilTime civil;
    civil.day = static_cast<int>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
    civil.month = static_cast<int>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
    civil.year = yearOfEra + era * 400 + (civil.month <= 2 ? 1 : 0);
    return civil;
}

CivilTime civilTimeUtc(std::chrono::system_clock::time_point when) {
    const int64_t ticks = std::chrono::duration_cast<Ticks>(when.time_since_epoch()).count();
    const int64_t days = floorDiv(ticks, kTicksPerDay);
    const int64_t seconds = (ticks - days * kTicksPerDay) / kTicksPerSecond; // 0 to 86399
    CivilTime civil = civilFromDays(days);
    civil.hour = static_cast<int>(seconds / 3600);
    civil.minute = static_cast<int>(seconds / 60 % 60);
    civil.second = static_cast<int>(seconds % 60);
    return civil;
}

nlohmann::json clockRequest(const CivilTime& time) {
    using namespace nlohmann::literals;
    nlohmann::json request =
        R"({"type" : "synctime", "year":-1, "month":-1, "day":-1, "hour":-1, "min":-1, "sec":-1, "timezone":"GMT"})"_json;
    request["year"] = time.year;
    request["month"] = time.month;
    request["day"] = time.day;
    request["hour"] = time.hour;
    request["min"] = time.minute;
    request["sec"] = time.second;
    return request;
}

} // namespace sonix
