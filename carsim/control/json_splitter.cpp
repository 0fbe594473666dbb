#include "carsim/control/json_splitter.h"

namespace carsim {

std::optional<JsonSplitter::Piece> JsonSplitter::next() {
    if (buffer.empty()) {
        return std::nullopt;
    }
    if (buffer[0] != '{') {
        // Everything up to the next opening brace is not part of any object.
        size_t open = buffer.find('{');
        size_t end = open == std::string::npos ? buffer.size() : open;
        Piece junk{buffer.substr(0, end), false};
        buffer.erase(0, end);
        return junk;
    }
    for (; scanned < buffer.size(); ++scanned) {
        char c = buffer[scanned];
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '{') {
            ++depth;
        } else if (c == '}' && --depth == 0) {
            Piece object{buffer.substr(0, scanned + 1), true};
            buffer.erase(0, scanned + 1);
            scanned = 0;
            return object;
        }
    }
    if (buffer.size() > kMaxObject) {
        Piece junk{std::move(buffer), false};
        buffer.clear();
        scanned = 0;
        depth = 0;
        inString = escaped = false;
        return junk;
    }
    return std::nullopt;
}

} // namespace carsim
