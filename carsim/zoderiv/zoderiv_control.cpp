#include "carsim/zoderiv/zoderiv_control.h"

#include "carsim/control/json_members.h"
#include "carsim/endpoint/socket_util.h"

namespace carsim {

using nlohmann::json;

ZoderivControl::ZoderivControl(CarState& state, VideoStream& video, const FaultSchedule& faults,
                               std::function<int()> mediaSocket, int bitrateKbps)
    : state(state), video(video), faults(faults), mediaSocket(std::move(mediaSocket)),
      bitrateKbps(bitrateKbps), table(commands()) {}

void ZoderivControl::onConnected(const sockaddr_storage& from,
                                 FaultSchedule::Clock::time_point at) {
    peer = from;
    connectedAt = at;
    realtimePort.reset();
}

void ZoderivControl::onClosed() {
    video.stop();
}

std::string ZoderivControl::frame(const json& reply) {
    std::string text = reply.dump();
    auto n = static_cast<uint32_t>(text.size());
    std::string out = {static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                       static_cast<char>(n >> 8), static_cast<char>(n)};
    return out + text;
}

std::optional<std::string> ZoderivControl::onRequest(const std::string& request) {
    json parsed = json::parse(request, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) {
        return frame(json{{"resp_status", kStatusUnknown}});
    }
    auto reply = answer(parsed);
    if (!reply) {
        return std::nullopt;
    }
    return frame(*reply);
}

std::optional<json> ZoderivControl::answer(const json& request) {
    json reply = json::object();
    if (request.contains("tag")) {
        reply["tag"] = request["tag"];
    }
    // An untagged request is unknown whatever it asks: its answer could not be matched.
    auto name = request.contains("tag") ? textMember(request, "command") : std::nullopt;
    return runCommand(table, name, request, std::move(reply),
                      faults.answersHeartbeat(connectedAt, FaultSchedule::Clock::now()));
}

ControlCommands ZoderivControl::commands() {
    ControlCommands c;
    c["connection_handshake"] = [this](const json& request, json&) {
        auto port = intMember(request, "realtimePort");
        if (!port || *port < 1 || *port > 65535) {
            return kStatusBadParameter;
        }
        realtimePort = static_cast<uint16_t>(*port);
        return kStatusOk;
    };
    c["heartbeat"] = [this](const json&, json& reply) {
        auto bytes = state.statusBytes();
        reply["data"] = toHex(bytes.data(), bytes.size());
        return kStatusOk;
    };
    c["enable_video_streaming"] = [this](const json& request, json&) {
        return enableStreaming(request);
    };
    c["get_device_config"] = [this](const json&, json& reply) {
        WifiSettings w = state.snapshot().wifi;
        reply["autoChannel"] = w.autoChannel ? 1 : 0;
        reply["channel"] = w.channel;
        reply["SSID"] = w.ssid;
        reply["password"] = w.password;
        reply["deviceMode"] = w.deviceMode ? 1 : 0;
        reply["deviceSSID"] = w.deviceSsid;
        reply["devicePassword"] = w.devicePassword;
        return kStatusOk;
    };
    c["set_wifi_config"] = [this](const json& request, json&) { return setWifi(request); };
    c["get_ssid_list"] = [this](const json&, json& reply) {
        reply["ssidList"] = state.snapshot().visibleNetworks;
        return kStatusOk;
    };
    c["force_iframe"] = [this](const json&, json&) {
        video.requestKeyFrame();
        return kStatusOk;
    };
    return c;
}

int ZoderivControl::enableStreaming(const json& request) {
    auto found = request.find("enabled");
    if (found == request.end() || !found->is_boolean()) {
        return kStatusBadParameter;
    }
    if (!found->get<bool>()) {
        video.stop();
        return kStatusOk;
    }
    if (!realtimePort) {
        return kStatusNotReady; // no handshake on this connection: nowhere to send
    }
    if (video.running()) {
        return kStatusOk;
    }
    return video.start(mediaSocket(), withPort(peer, *realtimePort), bitrateKbps) ? kStatusOk
                                                                                  : kStatusNotReady;
}

int ZoderivControl::setWifi(const json& request) {
    WifiSettings next = state.snapshot().wifi;
    auto text = [&](const char* key, std::string& target) {
        if (!request.contains(key)) {
            return true;
        }
        auto value = textMember(request, key);
        target = value.value_or(target);
        return value.has_value();
    };
    auto number = [&](const char* key, auto& target) {
        if (!request.contains(key)) {
            return true;
        }
        auto value = intMember(request, key);
        if (value) {
            target = static_cast<std::remove_reference_t<decltype(target)>>(*value);
        }
        return value.has_value();
    };
    bool valid = text("SSID", next.ssid) && text("password", next.password) &&
                 number("autoChannel", next.autoChannel) && number("channel", next.channel) &&
                 number("deviceMode", next.deviceMode) && text("deviceSSID", next.deviceSsid) &&
                 text("devicePassword", next.devicePassword);
    if (!valid || next.channel < 1 || next.channel > 13 || next.ssid.empty()) {
        return kStatusBadParameter;
    }
    state.update([&](CarSettings& s) { s.wifi = next; });
    return kStatusOk;
}

} // namespace carsim
