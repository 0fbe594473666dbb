// The JSON control channel: one exchange at a time, performed in queue order by the command
// thread (wire form: sonix/protocol/answer.h).
#include <memory>

#include "client/completion.h"
#include "net/hex.h"
#include "net/platform/socket_platform.h"
#include "sonix/md_video_client_sonix.h"

using nlohmann::json;
using namespace nlohmann::literals;

namespace {
constexpr int kAnswerTimeoutMs = 5000;
} // namespace

bool MdVideoClientSonix::executeJsonCommand(const json& request, JsonRespStatus& status,
                                            json& response) noexcept {
    try {
        std::lock_guard exchange(exchangeMutex);
        const Link link = controlLink();
        if (!link.connection) {
            return false;
        }
        std::vector<uint8_t> bytes = sonix::encodeRequest(request);
        if (bytes.empty()) {
            return false; // not serialisable: nothing the car could answer
        }
        // An answer that came after its own request had timed out must not pass for the answer
        // to this one: whatever waits now arrived before this request went out.
        for (std::unique_ptr<NetPacket> stale; link.connection->receive(stale, -1);) {
        }
        if (!link.connection->send(NetManager::makePacket(link.socket, std::move(bytes)))) {
            return false;
        }
        // One read is one answer: there is no reassembly and no matching.
        std::unique_ptr<NetPacket> packet;
        if (!link.connection->receive(packet, kAnswerTimeoutMs)) {
            return false;
        }
        sonix::Answer answer = sonix::parseAnswer(packet->data.data(), packet->data.size());
        status = answer.status;
        if (!answer.ok) {
            return false;
        }
        response = std::move(answer.body);
        return true;
    } catch (...) {
        return false; // out of memory
    }
}

bool MdVideoClientSonix::queueJsonCommand(const json& request, JsonCallback callback) {
    auto command = std::make_unique<PendingCommand>(PendingCommand{request, std::move(callback)});
    return commandQueue.push(std::move(command));
}

bool MdVideoClientSonix::sendJsonCommand(const json& request, JsonRespStatus& status,
                                         json& response) {
    return sendJsonCommand(request, status, response, nullptr);
}

bool MdVideoClientSonix::sendJsonCommand(const json& request, JsonRespStatus& status,
                                         json& response, const Settle& settle) {
    // Shared with the callback: the command thread may still be inside signal() when this
    // caller has seen the completion and returned.
    auto done = std::make_shared<Completion>();
    queueJsonCommand(request, [&status, &response, &settle, done](const JsonRespStatus& outcome,
                                                                  const json& answer) {
        try {
            status = outcome;
            response = answer;
        } catch (...) {
            status = JsonRespStatus{}; // the answer could not be copied: a failure
        }
        if (settle) {
            settle(status.code == 0);
        }
        done->signal();
    });
    // Bounded: the command runs within one exchange time-out of reaching the front, or the
    // queue refuses or discards it and completes it at once.
    done->wait();
    return status.code == 0;
}

void MdVideoClientSonix::failCommand(PendingCommand& command) {
    if (command.callback) {
        command.callback(JsonRespStatus{}, json());
    }
}

// The check follows the JSON library's destructor into its allocations; that destructor is
// noexcept, and every call that can throw is caught below.
// NOLINTNEXTLINE(bugprone-exception-escape)
void MdVideoClientSonix::commandWorker() noexcept {
    nameCurrentThread("sonix-command");
    for (;;) {
        std::unique_ptr<PendingCommand> command;
        try {
            if (!running && commandQueue.empty()) {
                // Leaving: whatever is queued from now on must fail at once, not wait for a
                // worker that is gone.
                commandQueue.close();
                return;
            }
            command = commandQueue.pop();
        } catch (...) {
            command.reset();
        }
        if (!command) {
            try {
                commandQueue.close(); // fails whatever it still holds
            } catch (...) {
            }
            return;
        }
        JsonRespStatus status;
        json response;
        if (!executeJsonCommand(command->request, status, response) && status.code == 0) {
            status.code = sonix::kNoAnswer; // a failure always reaches the callback as such
        }
        try {
            // A command queued without a callback is performed and its outcome dropped.
            if (command->callback) {
                command->callback(status, response);
            }
        } catch (...) {
            // A failing callback costs its own command only.
        }
    }
}

void MdVideoClientSonix::acknowledgeError(uint8_t flag) {
    try {
        json request = R"({"type" : "mendrel_acknowledge_error"})"_json;
        request["flag"] = bytesToHex({flag});
        JsonRespStatus status;
        json response;
        sendJsonCommand(request, status, response);
    } catch (...) {
        // Acknowledging is best effort; the car reports the error again.
    }
}
