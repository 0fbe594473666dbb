// The Zoderiv control channel: one tagged exchange at a time, and the queue and command thread
// through which every exchange after the handshake passes.
#include <climits>

#include "client/completion.h"
#include "epsilon/answer_framing.h"
#include "epsilon/control_answer.h"
#include "epsilon/md_video_client_epsilon.h"

int MdVideoClientEpsilon::takeTag() {
    const int tag = nextTag;
    nextTag = nextTag == INT_MAX ? 0 : nextTag + 1;
    return tag;
}

bool MdVideoClientEpsilon::executeJsonCommand(const std::string& command, nlohmann::json& params,
                                              int& status, nlohmann::json& response) noexcept {
    try {
        std::lock_guard lock(exchangeMutex);
        const int tag = takeTag();
        if (controlConnection == nullptr) {
            return false;
        }
        NetManager::NetConnection& connection = *controlConnection;
        params["command"] = command;
        params["tag"] = tag;
        const std::string text = params.dump();

        // Whatever arrived since the last exchange answers no request of ours (an answer that
        // came after its exchange gave up, the rest of a cut-off one). Taken for this exchange's
        // answer it would fail it, and leave this answer to fail the next one, and so on.
        for (std::unique_ptr<NetManager::NetPacket> stale; connection.receive(stale, -1);) {
        }
        if (!connection.send(NetManager::makePacket(
                controlSocket, std::vector<uint8_t>(text.begin(), text.end())))) {
            return false;
        }
        AnswerFraming framing;
        while (framing.progress() == AnswerFraming::Progress::NeedMore) {
            std::unique_ptr<NetManager::NetPacket> read;
            if (!connection.receive(read, timing.answerTimeoutMs)) {
                return false;
            }
            framing.feed(read->data);
        }
        return framing.progress() == AnswerFraming::Progress::Complete &&
               judgeAnswer(framing.text(), tag, status, response) == AnswerVerdict::Accepted;
    } catch (...) {
        return false; // params that cannot become a request, or out of memory
    }
}

bool MdVideoClientEpsilon::sendJsonCommand(const std::string& command, nlohmann::json& params,
                                           int& status, nlohmann::json& response) {
    // Shared with the done function, which the command thread may still be leaving when this
    // caller has already been released.
    struct Outcome {
        Completion finished;
        int status = -1;
        nlohmann::json response;
    };
    const auto outcome = std::make_shared<Outcome>();
    queueJsonCommand(command, params, [outcome](int result, nlohmann::json& answer) {
        outcome->status = result;
        outcome->response = std::move(answer);
        outcome->finished.signal();
    });
    outcome->finished.wait();
    status = outcome->status;
    response = std::move(outcome->response);
    return status == 0;
}

bool MdVideoClientEpsilon::queueJsonCommand(const std::string& command,
                                            const nlohmann::json& params,
                                            std::function<void(int, nlohmann::json&)> done) {
    return commandQueue.push(
        std::make_unique<PendingCommand>(PendingCommand{command, params, std::move(done)}));
}

void MdVideoClientEpsilon::complete(PendingCommand& command, int status,
                                    nlohmann::json& response) noexcept {
    if (!command.done) {
        return; // fire and forget
    }
    try {
        command.done(status, response);
    } catch (...) {
        // It has completed all the same; the next command must not suffer.
    }
}

void MdVideoClientEpsilon::commandWorker() noexcept {
    try {
        while (running || !commandQueue.empty()) {
            const std::unique_ptr<PendingCommand> command = commandQueue.pop();
            if (command == nullptr) {
                break; // closed
            }
            int status = 0;
            nlohmann::json response;
            if (!executeJsonCommand(command->command, command->params, status, response) &&
                status == 0) {
                status = -1;
            }
            complete(*command, status, response);
        }
    } catch (...) {
        // Leaves like a normal end: the queue below releases whoever waits.
    }
    // Nobody runs commands from now on: fail those still queued and refuse later ones, so a
    // thread that queues one now (the media thread asking for a key frame while the connection
    // is taken down) is released at once instead of waiting for ever, and its join with it.
    try {
        commandQueue.close();
    } catch (...) {
    }
}
