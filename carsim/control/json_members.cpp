#include "carsim/control/json_members.h"

namespace carsim {

std::optional<int64_t> intMember(const nlohmann::json& object, const char* key) {
    auto found = object.find(key);
    if (found == object.end()) {
        return std::nullopt;
    }
    if (found->is_number_integer()) {
        return found->get<int64_t>();
    }
    if (found->is_boolean()) {
        return found->get<bool>() ? 1 : 0;
    }
    return std::nullopt;
}

std::optional<bool> flagMember(const nlohmann::json& object, const char* key) {
    auto value = intMember(object, key);
    if (!value) {
        return std::nullopt;
    }
    return *value != 0;
}

std::optional<std::string> textMember(const nlohmann::json& object, const char* key) {
    auto found = object.find(key);
    if (found == object.end() || !found->is_string()) {
        return std::nullopt;
    }
    return found->get<std::string>();
}

} // namespace carsim
