#include "tests/e2e/wire_log_reader.h"

#include <algorithm>
#include <sstream>

#include <nlohmann/json.hpp>

namespace e2e {

namespace {

// The top-level JSON objects in one read (requests that travelled together stay in one read).
std::vector<std::string> objectsIn(const std::string& text) {
    std::vector<std::string> objects;
    int depth = 0;
    bool inString = false;
    size_t begin = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            i += c == '\\' ? 1 : 0;
            inString = c != '"';
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' && depth++ == 0) {
            begin = i;
        } else if (c == '}' && depth > 0 && --depth == 0) {
            objects.push_back(text.substr(begin, i + 1 - begin));
        }
    }
    return objects;
}

} // namespace

std::vector<std::string> controlRequests(const std::string& wireLog) {
    std::vector<std::string> names;
    std::istringstream lines(wireLog);
    std::string line;
    while (std::getline(lines, line)) {
        const auto entry = nlohmann::json::parse(line, nullptr, false);
        if (!entry.is_object() || entry.value("endpoint", "") != "tcp:8080" ||
            !entry.contains("text")) {
            continue;
        }
        for (const std::string& object : objectsIn(entry["text"].get<std::string>())) {
            const auto request = nlohmann::json::parse(object, nullptr, false);
            for (const char* key : {"type", "command"}) {
                if (request.is_object() && request.contains(key) && request[key].is_string()) {
                    names.push_back(request[key].get<std::string>());
                }
            }
        }
    }
    return names;
}

int requestCount(const std::string& wireLog, const std::string& name) {
    const auto names = controlRequests(wireLog);
    return static_cast<int>(std::count(names.begin(), names.end(), name));
}

int outputCount(const std::string& output, const std::string& text) {
    std::istringstream lines(output);
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        count += line.find(text) != std::string::npos ? 1 : 0;
    }
    return count;
}

int controlConnections(const std::string& output) {
    return outputCount(output, "control connection from") -
           outputCount(output, " ended: "); // each ended one has a line of its own
}

} // namespace e2e
