#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace carsim {

// Typed reads of request members that never throw: none when missing or of another type.
std::optional<int64_t> intMember(const nlohmann::json& object, const char* key);
std::optional<bool> flagMember(const nlohmann::json& object, const char* key);
std::optional<std::string> textMember(const nlohmann::json& object, const char* key);

} // namespace carsim
