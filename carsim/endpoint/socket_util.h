#pragma once

#include <cstddef>
#include <cstdint>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>

namespace carsim {

// Owns one file descriptor; closes it when destroyed or reset.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release();
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

// Sockets of the car listen on every address of the namespace they run in.
UniqueFd bindUdp(uint16_t port);
UniqueFd listenTcp(uint16_t port);
uint16_t localPort(int fd);

// Writes all bytes or fails; never raises SIGPIPE.
bool sendAll(int fd, const void* data, size_t size);

std::string formatAddress(const sockaddr_storage& address);
socklen_t addressLength(const sockaddr_storage& address);
sockaddr_storage withPort(const sockaddr_storage& address, uint16_t port);
bool parseHostPort(const std::string& text, sockaddr_storage& out);

} // namespace carsim
