// Log lines: each blog call is one line, written whole so that lines of several threads never
// interleave.
#include <cerrno>
#include <mutex>
#include <string>
#include <string_view>
#include <unistd.h>

#include "zeb/zeb-runner.h"

namespace {

std::mutex logMutex;
// Guarded by logMutex.
zeb_log_handler_t logHandler = nullptr;
void* logHandlerParam = nullptr;

std::string formatMessage(const char* format, va_list args) {
    if (!format) {
        return {};
    }
    char small[512];
    va_list copy;
    va_copy(copy, args);
    const int length = vsnprintf(small, sizeof(small), format, copy);
    va_end(copy);
    if (length < 0) {
        return {};
    }
    if (static_cast<size_t>(length) < sizeof(small)) {
        return std::string(small, static_cast<size_t>(length));
    }
    std::string message(static_cast<size_t>(length) + 1, '\0');
    vsnprintf(message.data(), message.size(), format, args);
    message.resize(static_cast<size_t>(length));
    return message;
}

void writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) {
                continue;
            }
            return;
        }
        done += static_cast<size_t>(n);
    }
}

} // namespace

extern "C" {

ZEB_API void blogva(int level, const char* format, va_list args) {
    const std::string message = formatMessage(format, args);
    std::lock_guard lock(logMutex);
    if (logHandler) {
        // Handlers see the text exactly as the module formatted it, line feed included.
        logHandler(level, message.c_str(), logHandlerParam);
        return;
    }
    // Modules end some messages with a line feed and others not; the line is the same.
    std::string_view body = message;
    if (!body.empty() && body.back() == '\n') {
        body.remove_suffix(1);
    }
    std::string line;
    line.reserve(body.size() + 16);
    line.append("[").append(std::to_string(level)).append("] ").append(body).append("\n");
    writeAll(STDERR_FILENO, line);
}

ZEB_API void blog(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    blogva(level, format, args);
    va_end(args);
}

ZEB_API void zeb_runner_set_log_handler(zeb_log_handler_t handler, void* param) {
    std::lock_guard lock(logMutex);
    logHandler = handler;
    logHandlerParam = param;
}

} // extern "C"
