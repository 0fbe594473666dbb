// Any bytes as one read of the Sonix control socket. The parse must never throw (it is
// noexcept, so a throw would end the process) and may succeed only with a status code of 0;
// a success hands out an object that goes back on the wire and parses to the same status.
#include <cstdint>
#include <cstdlib>

#include "sonix/protocol/answer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const sonix::Answer answer = sonix::parseAnswer(data, size);
    if (!answer.ok) {
        if (!answer.body.is_null()) {
            std::abort(); // a refused answer's body is never handed out
        }
        return 0;
    }
    if (answer.status.code != 0 || !answer.body.is_object() || answer.status.statusHigh > 0xFF ||
        answer.status.statusMid > 0xFF) {
        std::abort();
    }
    const std::vector<uint8_t> again = sonix::encodeRequest(answer.body);
    const sonix::Answer reparsed = sonix::parseAnswer(again.data(), again.size());
    if (again.empty() || !reparsed.ok || reparsed.body != answer.body ||
        reparsed.status.statusHigh != answer.status.statusHigh ||
        reparsed.status.statusMid != answer.status.statusMid) {
        std::abort();
    }
    return 0;
}
