#include "net/text_utils.h"

std::string substitute(const std::string& templ,
                       const std::list<std::pair<std::string, std::string>>& values) {
    std::string result = templ;
    for (const auto& [placeholder, value] : values) {
        if (placeholder.empty()) {
            continue;
        }
        size_t pos = result.find(placeholder);
        while (pos != std::string::npos) {
            result.replace(pos, placeholder.size(), value);
            const size_t valueEnd = pos + value.size();
            size_t next = result.find(placeholder, pos + 1);
            // An occurrence lying wholly inside the value just inserted would be expanded again
            // and again for ever; resume after the value instead. Occurrences that reach past
            // the value's end still count, so every input that terminates keeps its result.
            if (next != std::string::npos && next + placeholder.size() <= valueEnd) {
                next = result.find(placeholder, valueEnd);
            }
            pos = next;
        }
    }
    return result;
}

std::vector<std::string> splitString(const std::string& text, char delimiter) {
    std::vector<std::string> pieces;
    size_t begin = 0;
    for (size_t pos = text.find(delimiter); pos != std::string::npos;
         pos = text.find(delimiter, begin)) {
        pieces.push_back(text.substr(begin, pos - begin));
        begin = pos + 1;
    }
    pieces.push_back(text.substr(begin));
    return pieces;
}

std::string textBetween(const std::string& text, const std::string& start, const std::string& end) {
    const size_t startPos = text.find(start);
    if (startPos == std::string::npos) {
        return {};
    }
    const size_t from = startPos + start.size();
    const size_t to = text.find(end, from);
    return text.substr(from, to == std::string::npos ? std::string::npos : to - from);
}
