// Input: [tag] [cut count c] [c read lengths] [answer stream ...]
//
// The stream is fed to the framing in reads of the given lengths (the rest in one last read), as
// the control channel feeds it the TCP reads of one answer; reads stop once the framing has
// decided, and a stream that ends undecided is a time-out. The oracle judges the whole stream
// independently: success exactly when the first read holds the length field, the length is 1 to
// 1 MiB, the stream holds that many bytes after it, and they are a JSON object whose "tag" and
// "resp_status" are ints equal to the tag and 0. No exception may escape.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <vector>

#include <nlohmann/json.hpp>

#include "epsilon/answer_framing.h"
#include "epsilon/control_answer.h"

namespace {

bool isIntEqual(const nlohmann::json& object, const char* key, int64_t expected) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_number_integer()) {
        return false; // unsigned integers count as integers too
    }
    if (found->is_number_unsigned()) {
        return expected >= 0 && found->get<uint64_t>() == static_cast<uint64_t>(expected);
    }
    return found->get<int64_t>() == expected;
}

bool oracleAccepts(const std::vector<uint8_t>& stream, size_t firstRead, int tag,
                   nlohmann::json& object) {
    if (firstRead < 4 || stream.size() < 4) {
        return false;
    }
    const uint32_t n = static_cast<uint32_t>(stream[0]) << 24 |
                       static_cast<uint32_t>(stream[1]) << 16 |
                       static_cast<uint32_t>(stream[2]) << 8 | stream[3];
    if (n < 1 || n > (1u << 20) || stream.size() - 4 < n) {
        return false;
    }
    object =
        nlohmann::json::parse(stream.begin() + 4, stream.begin() + 4 + n, nullptr, false, false);
    return object.is_object() && isIntEqual(object, "tag", tag) &&
           isIntEqual(object, "resp_status", 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const int tag = data[0];
    const size_t cuts = data[1] % 16;
    if (size < 2 + cuts) {
        return 0;
    }
    std::vector<size_t> lengths(data + 2, data + 2 + cuts);
    const std::vector<uint8_t> stream(data + 2 + cuts, data + size);

    AnswerFraming framing;
    size_t offset = 0;
    size_t firstRead = 0;
    for (size_t i = 0; framing.progress() == AnswerFraming::Progress::NeedMore; ++i) {
        if (offset == stream.size() && i > 0) {
            break; // nothing more arrives: the exchange times out
        }
        const size_t remaining = stream.size() - offset;
        const size_t length = i < lengths.size() ? std::min(lengths[i], remaining) : remaining;
        if (i == 0) {
            firstRead = length;
        }
        if (length == 0 && i > 0) {
            continue; // the socket layer never delivers an empty read
        }
        framing.feed(stream.data() + offset, length);
        offset += length;
    }

    int status = -12345;
    nlohmann::json response = "untouched";
    const bool accepted =
        framing.progress() == AnswerFraming::Progress::Complete &&
        judgeAnswer(framing.text(), tag, status, response) == AnswerVerdict::Accepted;

    nlohmann::json expected;
    if (accepted != oracleAccepts(stream, firstRead, tag, expected)) {
        std::abort();
    }
    if (framing.progress() == AnswerFraming::Progress::Complete &&
        framing.text().size() !=
            (static_cast<size_t>(stream[0]) << 24 | static_cast<size_t>(stream[1]) << 16 |
             static_cast<size_t>(stream[2]) << 8 | stream[3])) {
        std::abort(); // exactly the announced bytes, however the reads fell
    }
    if (accepted && (status != 0 || response != expected)) {
        std::abort();
    }
    if (!accepted && response != "untouched") {
        std::abort();
    }
    return 0;
}
