#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace carsim {

// One request a family's control channel knows: fills the answer and gives its status.
using ControlCommand = std::function<int(const nlohmann::json& request, nlohmann::json& reply)>;
using ControlCommands = std::map<std::string, ControlCommand>;

// "resp_status" of the answer to a request the car does not know, in both families.
constexpr int kUnknownRequestStatus = 255;

// Runs the command `name` names and puts its status into `reply`; an unknown or missing name
// gets kUnknownRequestStatus. None when the car stays silent: a heartbeat it no longer answers.
std::optional<nlohmann::json> runCommand(const ControlCommands& commands,
                                         const std::optional<std::string>& name,
                                         const nlohmann::json& request, nlohmann::json reply,
                                         bool answersHeartbeat);

} // namespace carsim
