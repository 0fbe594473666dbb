// The Sonix wire forms and the car's encoded values, as pure functions.
#include <chrono>
#include <climits>
#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "sonix/protocol/answer.h"
#include "sonix/protocol/camera_values.h"
#include "sonix/protocol/clock_request.h"
#include "sonix/protocol/device_status.h"
#include "sonix/protocol/firmware_version.h"
#include "sonix/protocol/wheel_packet.h"

using nlohmann::json;

namespace {

sonix::Answer parse(const std::string& bytes) {
    return sonix::parseAnswer(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string text(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

TEST(SonixAnswer, StatusIsSplitFromAnIntegerBooleanOrTruncatedNumber) {
    struct Case {
        const char* answer;
        bool ok;
        uint32_t high, mid, code;
    };
    const Case cases[] = {
        {R"({"resp_status":0})", true, 0, 0, 0},
        {R"({"resp_status":256})", true, 0, 1, 0},
        {R"({"resp_status":3})", false, 0, 0, 3},
        {R"({"resp_status":1193046})", false, 0x12, 0x34, 0x56}, // 0x123456
        {R"({"resp_status":16777216})", true, 0, 0, 0},          // bits above 23 ignored
        {R"({"resp_status":-1})", false, 0xFF, 0xFF, 0xFF},
        {R"({"resp_status":false})", true, 0, 0, 0},
        {R"({"resp_status":true})", false, 0, 0, 1},
        {R"({"resp_status":2.9})", false, 0, 0, 2},
        {R"({"resp_status":-0.5})", true, 0, 0, 0},
        {R"({"resp_status":"0"})", false, 0, 0, sonix::kNoAnswer},
        {R"({"resp_status":null})", false, 0, 0, sonix::kNoAnswer},
        {R"({"status":0})", false, 0, 0, sonix::kNoAnswer},
        {R"([0])", false, 0, 0, sonix::kNoAnswer},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        const sonix::Answer a = parse(c.answer);
        EXPECT_EQ(a.ok, c.ok);
        EXPECT_EQ(a.status.statusHigh, c.high);
        EXPECT_EQ(a.status.statusMid, c.mid);
        EXPECT_EQ(a.status.code, c.code);
        // Only a success hands the object out, whole.
        EXPECT_EQ(a.body, c.ok ? json::parse(c.answer) : json());
    }
}

TEST(SonixAnswer, ReadAsZeroTerminatedTextParsedStrictly) {
    using namespace std::string_literals;
    struct Case {
        std::string bytes;
        bool ok;
    };
    const Case cases[] = {
        {"{\"resp_status\":0}\0"s, true},
        {"{\"resp_status\":0}\0garbage{"s, true},
        {"{\"resp_status\":0}\r\n"s, true},
        {"{\"resp_status\":0}x"s, false},
        {"{\"resp_status\":0}{\"resp_status\":0}"s, false}, // two answers in one read
        {"{\"resp_status\":"s, false},                      // half of one
        {"/* note */{\"resp_status\":0}"s, false},          // no comments
        {"\0{\"resp_status\":0}"s, false},
        {"{\"resp_status\":0,\"s\":\"\xC3\x28\"}"s, false}, // not UTF-8
        {""s, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(json(c.bytes).dump(-1, ' ', true, json::error_handler_t::replace));
        const sonix::Answer a = parse(c.bytes);
        EXPECT_EQ(a.ok, c.ok);
        if (!c.ok) {
            EXPECT_EQ(a.status.code, sonix::kNoAnswer);
        }
    }
}

TEST(SonixRequest, GoesOutCompactWithKeysInByteOrder) {
    const json request = json::parse(R"({"type" : "mendrel_acknowledge_error", "flag" : "0A",
                                         "Zed": 1, "_x": [1, 2]})");
    EXPECT_EQ(text(sonix::encodeRequest(request)),
              R"({"Zed":1,"_x":[1,2],"flag":"0A","type":"mendrel_acknowledge_error"})");
    // Text is sent as it is, not escaped to ASCII.
    EXPECT_EQ(text(sonix::encodeRequest({{"ssid", "Café"}})), "{\"ssid\":\"Café\"}");
    // A string that is not UTF-8 cannot be sent at all.
    EXPECT_TRUE(sonix::encodeRequest({{"ssid", "\xC3\x28"}}).empty());
}

TEST(SonixClock, UtcIsBrokenDownIntoTheGregorianCalendar) {
    using namespace std::chrono;
    struct Case {
        sys_seconds at;
        sonix::CivilTime expected;
    };
    const Case cases[] = {
        {sys_days{1970y / 1 / 1}, {1970, 1, 1, 0, 0, 0}},
        {sys_days{2024y / 2 / 29} + 23h + 59min + 59s, {2024, 2, 29, 23, 59, 59}},
        {sys_days{2000y / 3 / 1}, {2000, 3, 1, 0, 0, 0}},
        {sys_days{2100y / 2 / 28} + 12h, {2100, 2, 28, 12, 0, 0}},
        {sys_days{1969y / 12 / 31} + 23h + 59min + 59s, {1969, 12, 31, 23, 59, 59}},
    };
    for (const Case& c : cases) {
        const sonix::CivilTime t = sonix::civilTimeUtc(c.at + milliseconds(999));
        SCOPED_TRACE(c.expected.year);
        EXPECT_EQ(t.year, c.expected.year);
        EXPECT_EQ(t.month, c.expected.month);
        EXPECT_EQ(t.day, c.expected.day);
        EXPECT_EQ(t.hour, c.expected.hour);
        EXPECT_EQ(t.minute, c.expected.minute);
        EXPECT_EQ(t.second, c.expected.second); // truncated, not rounded
    }
    // Every few days over ±2000 years against the standard library's calendar.
    for (int64_t day = -730000; day <= 730000; day += 997) {
        const year_month_day ymd{sys_days{days{day}}};
        const sonix::CivilTime t = sonix::civilFromDays(day);
        ASSERT_EQ(t.year, static_cast<int>(ymd.year())) << day;
        ASSERT_EQ(t.month, static_cast<int>(unsigned{ymd.month()})) << day;
        ASSERT_EQ(t.day, static_cast<int>(unsigned{ymd.day()})) << day;
    }
}

TEST(SonixFirmwareVersion, FivePartsGiveVersionAndBuildNumber) {
    struct Case {
        const char* text;
        bool usable;
        const char* version;
        int number;
    };
    const Case cases[] = {
        {"V_2.10.00_37B_X_Y", true, "2.10.0", 37},
        {"V_2.10.01_37B_X_Y", true, "2.10.01", 37},
        {"V__3X_4_5", true, "", 3},
        {"V_.00_B_x_y", true, ".0", 0},
        {"V_1.0__x_y", true, "1.0", 0}, // empty build part: nothing before its start is read
        {"V_1_99999999999B_x_y", true, "1", INT_MAX},
        {"FACTORY_1_2_3_4", false, "", 0},
        {"1_2_3", false, "", 0},
        {"a_b_c_d_e_f", false, "", 0},
        {"", false, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto firmware = sonix::parseVideoFirmware(c.text);
        ASSERT_EQ(firmware.has_value(), c.usable);
        if (firmware) {
            EXPECT_EQ(firmware->version, c.version);
            EXPECT_EQ(firmware->number, c.number);
        }
    }
}

TEST(SonixDeviceStatus, HeartbeatBytesAreExactlyFiveHexBytes) {
    const std::array<uint8_t, 5> expected = {0x0A, 0x1B, 0x2C, 0x07, 0x06};
    EXPECT_EQ(sonix::decodeStatusBytes("0A1B2C0706"), expected);
    EXPECT_EQ(sonix::decodeStatusBytes("0a1b2c0706"), expected);
    for (const char* refused : {"0A1B2C07", "0A1B2C070601", "0A1B2C0706F", "0A1B2C07G6", ""}) {
        EXPECT_FALSE(sonix::decodeStatusBytes(refused).has_value()) << refused;
    }
    EXPECT_TRUE(sonix::cardReadable(true, true, false));
    EXPECT_FALSE(sonix::cardReadable(true, true, true));
    EXPECT_FALSE(sonix::cardReadable(false, true, false));
}

TEST(SonixDeviceStatus, SdSpaceArithmeticIsDefinedForEveryInput) {
    struct Case {
        int total, percent;
        int32_t sdTotal, sdSpace;
    };
    const Case cases[] = {
        {1000, 25, 1024000, 256000},
        {30436, 87, 31166464, 27114823},
        {0, 50, 0, 0},
        {2097151, 100, 2147482624, 2147482624},
        {2097152, 50, INT_MIN, INT_MIN / 2}, // the car's 32-bit product wraps
        {INT_MAX, 1, -1024, -10},
        {1000, INT_MAX, 1024000, INT_MAX}, // the share saturates
        {1000, INT_MIN, 1024000, INT_MIN},
        {-1, 100, -1024, -1024},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.total) + " " + std::to_string(c.percent));
        const sonix::SdSpace space = sonix::sdSpaceFrom(c.total, c.percent);
        EXPECT_EQ(space.total, c.sdTotal);
        EXPECT_EQ(space.free, c.sdSpace);
    }
}

TEST(SonixCameraValues, BitrateLevelsAndMainsFrequency) {
    const int table[] = {1048576, 1258291, 1572864, 3145728};
    for (int level = 0; level < 4; ++level) {
        EXPECT_EQ(sonix::bitrateLevel(table[level]), level);
        EXPECT_EQ(sonix::bitrateOfLevel(level), table[level]);
    }
    EXPECT_EQ(sonix::bitrateLevel(2000000), -1);
    EXPECT_EQ(sonix::bitrateLevel(0), -1);
    EXPECT_EQ(sonix::bitrateOfLevel(-1), 1572864);
    EXPECT_EQ(sonix::bitrateOfLevel(4), 1572864);
    EXPECT_EQ(sonix::powerFrequencySetting(60), 1);
    EXPECT_EQ(sonix::powerFrequencySetting(50), 2);
    EXPECT_EQ(sonix::powerFrequencySetting(55), 0);
    EXPECT_EQ(sonix::powerFrequencyHertz(1), 60);
    EXPECT_EQ(sonix::powerFrequencyHertz(2), 50);
}

TEST(SonixWheelPacket, ScaledTruncatedLittleEndianAndSaturated) {
    const std::vector<uint8_t> packet = sonix::wheelPacket(1.0f, -0.5f);
    const std::vector<uint8_t> expected = {'W',  'C',  'T',  'L',  0xFF, 0x7F,
                                           0x00, 0x00, 0x01, 0xC0, 0xFF, 0xFF}; // 32767, -16383
    EXPECT_EQ(packet, expected);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(sonix::wheelValue(2.0f), 65534); // beyond full scale, not clamped to it
    EXPECT_EQ(sonix::wheelValue(-0.99999f), -32766);
    EXPECT_EQ(sonix::wheelValue(nan), 0);
    EXPECT_EQ(sonix::wheelValue(1e30f), INT32_MAX);
    EXPECT_EQ(sonix::wheelValue(-inf), INT32_MIN);
}
