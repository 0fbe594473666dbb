// Typed reads of members of a device's JSON answer. Both device families read members the same
// way: an integer accepts any JSON number (a floating one truncated toward zero) and a boolean
// (0 or 1); a string only a JSON string. A missing member, or one of another type, is a failed
// read, never an exception.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace json_read {

// An integer out of the int range keeps its low 32 bits, as the JSON library converts it; a
// floating number out of the range saturates (its plain conversion would be undefined).
bool readInt(const nlohmann::json& object, const char* key, int& value) noexcept;
bool readString(const nlohmann::json& object, const char* key, std::string& value) noexcept;
// The same reads of a value that is not a member.
bool asInt(const nlohmann::json& value, int& out) noexcept;
bool asString(const nlohmann::json& value, std::string& out) noexcept;

} // namespace json_read
