#include "carsim/control/control_commands.h"

namespace carsim {

std::optional<nlohmann::json> runCommand(const ControlCommands& commands,
                                         const std::optional<std::string>& name,
                                         const nlohmann::json& request, nlohmann::json reply,
                                         bool answersHeartbeat) {
    auto command = name ? commands.find(*name) : commands.end();
    if (command == commands.end()) {
        reply["resp_status"] = kUnknownRequestStatus;
        return reply;
    }
    if (*name == "heartbeat" && !answersHeartbeat) {
        return std::nullopt;
    }
    reply["resp_status"] = command->second(request, reply);
    return reply;
}

} // namespace carsim
