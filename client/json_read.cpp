#include "client/json_read.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace json_read {

namespace {
constexpr int kMin = std::numeric_limits<int>::min();
constexpr int kMax = std::numeric_limits<int>::max();

const nlohmann::json* member(const nlohmann::json& object, const char* key) {
    if (!object.is_object()) {
        return nullptr;
    }
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}
} // namespace

bool asInt(const nlohmann::json& value, int& out) noexcept {
    switch (value.type()) {
    case nlohmann::json::value_t::boolean:
        out = value.get<bool>() ? 1 : 0;
        return true;
    // Integers keep the JSON library's own conversion (the low 32 bits), which the devices'
    // status words are read with.
    case nlohmann::json::value_t::number_integer:
        out = static_cast<int>(value.get<int64_t>());
        return true;
    case nlohmann::json::value_t::number_unsigned:
        out = static_cast<int>(value.get<uint64_t>());
        return true;
    case nlohmann::json::value_t::number_float: {
        const double n = std::trunc(value.get<double>());
        // A cast of a value outside the int range is undefined; the device cannot mean one.
        if (std::isnan(n)) {
            out = 0;
        } else {
            out = n <= kMin ? kMin : (n >= kMax ? kMax : static_cast<int>(n));
        }
        return true;
    }
    default:
        return false;
    }
}

bool asString(const nlohmann::json& value, std::string& out) noexcept {
    if (!value.is_string()) {
        return false;
    }
    try {
        out = value.get_ref<const std::string&>();
        return true;
    } catch (...) {
        return false; // out of memory
    }
}

bool readInt(const nlohmann::json& object, const char* key, int& value) noexcept {
    const nlohmann::json* found = member(object, key);
    return found != nullptr && asInt(*found, value);
}

bool readString(const nlohmann::json& object, const char* key, std::string& value) noexcept {
    const nlohmann::json* found = member(object, key);
    return found != nullptr && asString(*found, value);
}

} // namespace json_read
