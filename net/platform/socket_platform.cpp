#include "net/platform/socket_platform.h"

#ifdef _WIN32
#include <iphlpapi.h>
// SIO_UDP_CONNRESET: mstcpip.h in the Windows SDK, mswsock.h in MinGW-w64.
#include <mstcpip.h>
#include <mswsock.h>
#else
#include <cerrno>
#include <ifaddrs.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>
#endif

#include <cstring>
#include <string>

#ifdef _WIN32

const short kPollReadable = POLLRDNORM | POLLRDBAND;
const short kPollHangUp = POLLHUP;
const short kPollError = POLLERR;
const short kPollInvalid = POLLNVAL;

namespace {
SOCKET native(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

bool isSocket(SOCKET socket) {
    int type = 0;
    int length = sizeof(type);
    return ::getsockopt(socket, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length) ==
               0 ||
           ::WSAGetLastError() != WSAENOTSOCK;
}
} // namespace

SocketHandle createSocket(int family, int type, int protocol) {
    // Winsock makes inheritable handles: a process the host starts later would keep the car's
    // connections open after we close them. Overlapped, as socket() would make it.
    SOCKET s = ::WSASocketW(family, type, protocol, nullptr, 0,
                            WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET && ::WSAGetLastError() == WSAEINVAL) {
        // Systems older than Windows 7 SP1 do not know the flag.
        s = ::WSASocketW(family, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED);
        if (s != INVALID_SOCKET) {
            ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
        }
    }
    if (s == INVALID_SOCKET) {
        return kInvalidSocket;
    }
    if (type == SOCK_DGRAM) {
        // As on POSIX, an unconnected datagram socket does not fail its receives because an
        // earlier send met a closed port.
        ignoreUnreachableReports(static_cast<SocketHandle>(s));
    }
    return static_cast<SocketHandle>(s);
}

void closeSocket(SocketHandle socket) {
    ::closesocket(native(socket));
}

bool setNonBlocking(SocketHandle socket) {
    u_long on = 1;
    return ::ioctlsocket(native(socket), FIONBIO, &on) == 0;
}

bool bindSocket(SocketHandle socket, const sockaddr_storage& address, int length) {
    return ::bind(native(socket), reinterpret_cast<const sockaddr*>(&address), length) == 0;
}

ConnectStart startConnect(SocketHandle socket, const sockaddr_storage& address, int length) {
    if (::connect(native(socket), reinterpret_cast<const sockaddr*>(&address), length) == 0) {
        return ConnectStart::Connected;
    }
    const int error = ::WSAGetLastError();
    return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS || error == WSAEINTR
               ? ConnectStart::InProgress
               : ConnectStart::Failed;
}

int waitWritable(SocketHandle socket, int timeoutMs) {
    // select, not WSAPoll: before Windows 10 version 2004 WSAPoll never reported a connect that
    // failed, which would turn every refused connect into a time-out. select names the failure
    // in its exception set, and counts handles rather than limiting their values.
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(native(socket), &writable);
    FD_SET(native(socket), &failed);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int result = ::select(0, nullptr, &writable, &failed, &limit);
    return result < 0 ? -1 : (result == 0 ? 0 : 1);
}

int pendingSocketError(SocketHandle socket) {
    int error = 0;
    int length = sizeof(error);
    if (::getsockopt(native(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                     &length) != 0) {
        return ::WSAGetLastError();
    }
    return error;
}

bool localAddress(SocketHandle socket, sockaddr_storage& address) {
    int length = sizeof(address);
    return ::getsockname(native(socket), reinterpret_cast<sockaddr*>(&address), &length) == 0;
}

long sendStream(SocketHandle socket, const uint8_t* data, size_t length) {
    return ::send(native(socket), reinterpret_cast<const char*>(data), static_cast<int>(length), 0);
}

long sendDatagram(SocketHandle socket, const uint8_t* data, size_t length,
                  const sockaddr_storage& to, int toLength) {
    return ::sendto(native(socket), reinterpret_cast<const char*>(data), static_cast<int>(length),
                    0, reinterpret_cast<const sockaddr*>(&to), toLength);
}

long receiveStream(SocketHandle socket, uint8_t* buffer, size_t capacity) {
    return ::recv(native(socket), reinterpret_cast<char*>(buffer), static_cast<int>(capacity), 0);
}

long receiveDatagram(SocketHandle socket, uint8_t* buffer, size_t capacity) {
    sockaddr_storage from{};
    return receiveDatagramFrom(socket, buffer, capacity, from);
}

long receiveDatagramFrom(SocketHandle socket, uint8_t* buffer, size_t capacity,
                         sockaddr_storage& from) {
    std::memset(&from, 0, sizeof(from));
    int fromLength = sizeof(from);
    const int received =
        ::recvfrom(native(socket), reinterpret_cast<char*>(buffer), static_cast<int>(capacity), 0,
                   reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (received < 0 && ::WSAGetLastError() == WSAEMSGSIZE) {
        return static_cast<long>(capacity); // the buffer holds the datagram's first bytes
    }
    return received;
}

bool enableBroadcast(SocketHandle socket) {
    const BOOL on = TRUE;
    return ::setsockopt(native(socket), SOL_SOCKET, SO_BROADCAST,
                        reinterpret_cast<const char*>(&on), sizeof(on)) == 0;
}

bool setReceiveTimeout(SocketHandle socket, int timeoutMs) {
    // Winsock takes the time-out as a DWORD of milliseconds.
    const DWORD limit = static_cast<DWORD>(timeoutMs);
    return ::setsockopt(native(socket), SOL_SOCKET, SO_RCVTIMEO,
                        reinterpret_cast<const char*>(&limit), sizeof(limit)) == 0;
}

bool isReceiveTimeout(int error) {
    return error == WSAETIMEDOUT;
}

void requestReceiveBuffer(SocketHandle socket, int bytes) {
    ::setsockopt(native(socket), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes),
                 sizeof(bytes));
}

int receiveBufferSize(SocketHandle socket) {
    int bytes = 0;
    int length = sizeof(bytes);
    return ::getsockopt(native(socket), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&bytes),
                        &length) == 0
               ? bytes
               : -1;
}

void ignoreUnreachableReports(SocketHandle socket) {
    BOOL report = FALSE;
    DWORD returned = 0;
    ::WSAIoctl(native(socket), SIO_UDP_CONNRESET, &report, sizeof(report), nullptr, 0, &returned,
               nullptr, nullptr);
}

int pollSockets(PollSlot* slots, size_t count, int timeoutMs) {
    WSAPOLLFD nativeSlots[8];
    if (count > 8) {
        return -1;
    }
    for (size_t i = 0; i < count; ++i) {
        nativeSlots[i] = WSAPOLLFD{static_cast<SOCKET>(slots[i].socket), slots[i].events, 0};
    }
    int result = ::WSAPoll(nativeSlots, static_cast<ULONG>(count), timeoutMs);
    if (result < 0 && ::WSAGetLastError() == WSAENOTSOCK) {
        // A handle closed behind the caller's back fails the whole poll on some Winsock
        // implementations; POSIX marks that slot invalid and reports the others. Do the same, so
        // the caller can drop it instead of failing every poll from now on.
        result = 0;
        for (size_t i = 0; i < count; ++i) {
            const bool valid = isSocket(nativeSlots[i].fd);
            nativeSlots[i].revents = valid ? 0 : POLLNVAL;
            result += valid ? 0 : 1;
        }
    }
    for (size_t i = 0; i < count; ++i) {
        short events = result > 0 ? nativeSlots[i].revents : 0;
        if ((events & (POLLHUP | POLLERR)) == POLLHUP) {
            // An orderly close by the peer: POSIX reports the stream readable, and the receive
            // yields what is left and then the end. Winsock reports a hang-up instead, which
            // would drop the connection as if it had been torn down.
            events = static_cast<short>((events & ~POLLHUP) | POLLRDNORM);
        }
        slots[i].revents = events;
    }
    return result;
}

int lastSocketError() {
    return ::WSAGetLastError();
}

bool isWouldBlock(int error) {
    return error == WSAEWOULDBLOCK;
}

bool raiseThreadPriority() {
    return ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_HIGHEST) != 0;
}

void nameCurrentThread(const char*) {}

std::vector<AdapterAddress> listAdapterAddresses() {
    // GetAdaptersAddresses, not GetAdaptersInfo: the latter lists an adapter without an IPv4
    // address as 0.0.0.0 with mask 0.0.0.0, which reads as an address whose network is everything.
    std::vector<AdapterAddress> result;
    constexpr ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                            GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_SKIP_FRIENDLY_NAME;
    ULONG size = 16 * 1024;
    std::vector<ULONGLONG> buffer; // the list's structures want 8-byte alignment
    ULONG status = ERROR_BUFFER_OVERFLOW;
    // The list may grow between the call that sizes it and the one that reads it.
    for (int attempt = 0; attempt < 4 && status == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size / sizeof(ULONGLONG) + 1);
        size = static_cast<ULONG>(buffer.size() * sizeof(ULONGLONG));
        status = ::GetAdaptersAddresses(
            AF_INET, flags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (status != NO_ERROR) {
        return result;
    }
    for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data());
         adapter != nullptr; adapter = adapter->Next) {
        for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress;
             unicast != nullptr; unicast = unicast->Next) {
            const sockaddr* address = unicast->Address.lpSockaddr;
            if (address == nullptr || address->sa_family != AF_INET ||
                unicast->OnLinkPrefixLength > 32) {
                continue;
            }
            const ULONG prefix = unicast->OnLinkPrefixLength;
            const uint32_t mask = prefix == 0 ? 0 : ~uint32_t{0} << (32 - prefix);
            result.push_back(
                {reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr, htonl(mask)});
            break;
        }
    }
    return result;
}

#else

const short kPollReadable = POLLRDNORM | POLLRDBAND;
const short kPollHangUp = POLLHUP;
const short kPollError = POLLERR;
const short kPollInvalid = POLLNVAL;

SocketHandle createSocket(int family, int type, int protocol) {
    const int fd = ::socket(family, type | SOCK_CLOEXEC, protocol);
    return fd < 0 ? kInvalidSocket : fd;
}

void closeSocket(SocketHandle socket) {
    ::close(socket);
}

bool setNonBlocking(SocketHandle socket) {
    int on = 1;
    return ::ioctl(socket, FIONBIO, &on) == 0;
}

bool bindSocket(SocketHandle socket, const sockaddr_storage& address, int length) {
    return ::bind(socket, reinterpret_cast<const sockaddr*>(&address),
                  static_cast<socklen_t>(length)) == 0;
}

ConnectStart startConnect(SocketHandle socket, const sockaddr_storage& address, int length) {
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&address),
                  static_cast<socklen_t>(length)) == 0) {
        return ConnectStart::Connected;
    }
    // EINPROGRESS is the normal answer on a non-blocking socket; an interrupted connect goes on
    // in the background. waitWritable tells the rest.
    return errno == EINPROGRESS || errno == EINTR ? ConnectStart::InProgress : ConnectStart::Failed;
}

int waitWritable(SocketHandle socket, int timeoutMs) {
    // poll, not select: an fd_set cannot hold handles of 1024 and above.
    pollfd slot{socket, POLLOUT, 0};
    for (;;) {
        const int result = ::poll(&slot, 1, timeoutMs);
        if (result < 0 && errno == EINTR) {
            continue;
        }
        return result < 0 ? -1 : (result == 0 ? 0 : 1);
    }
}

int pendingSocketError(SocketHandle socket) {
    int error = 0;
    socklen_t length = sizeof(error);
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        return errno;
    }
    return error;
}

bool localAddress(SocketHandle socket, sockaddr_storage& address) {
    socklen_t length = sizeof(address);
    return ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) == 0;
}

long sendStream(SocketHandle socket, const uint8_t* data, size_t length) {
    for (;;) {
        // A peer that has gone would otherwise raise SIGPIPE and end the host process.
        const ssize_t sent = ::send(socket, data, length, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        return static_cast<long>(sent);
    }
}

long sendDatagram(SocketHandle socket, const uint8_t* data, size_t length,
                  const sockaddr_storage& to, int toLength) {
    for (;;) {
        const ssize_t sent =
            ::sendto(socket, data, length, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to),
                     static_cast<socklen_t>(toLength));
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        return static_cast<long>(sent);
    }
}

long receiveStream(SocketHandle socket, uint8_t* buffer, size_t capacity) {
    for (;;) {
        const ssize_t received = ::recv(socket, buffer, capacity, 0);
        if (received < 0 && errno == EINTR) {
            continue;
        }
        return static_cast<long>(received);
    }
}

long receiveDatagram(SocketHandle socket, uint8_t* buffer, size_t capacity) {
    for (;;) {
        sockaddr_storage from{};
        socklen_t fromLength = sizeof(from);
        const ssize_t received = ::recvfrom(socket, buffer, capacity, 0,
                                            reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (received < 0 && errno == EINTR) {
            continue;
        }
        return static_cast<long>(received);
    }
}

long receiveDatagramFrom(SocketHandle socket, uint8_t* buffer, size_t capacity,
                         sockaddr_storage& from) {
    for (;;) {
        std::memset(&from, 0, sizeof(from));
        socklen_t fromLength = sizeof(from);
        const ssize_t received = ::recvfrom(socket, buffer, capacity, 0,
                                            reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (received < 0 && errno == EINTR) {
            continue;
        }
        return static_cast<long>(received);
    }
}

bool enableBroadcast(SocketHandle socket) {
    const int on = 1;
    return ::setsockopt(socket, SOL_SOCKET, SO_BROADCAST, &on, sizeof(on)) == 0;
}

bool setReceiveTimeout(SocketHandle socket, int timeoutMs) {
    // POSIX takes a struct timeval; Linux refuses a plain int with EINVAL.
    timeval limit{};
    limit.tv_sec = timeoutMs / 1000;
    limit.tv_usec = static_cast<suseconds_t>(timeoutMs % 1000) * 1000;
    return ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit)) == 0;
}

bool isReceiveTimeout(int error) {
    return error == EAGAIN || error == EWOULDBLOCK;
}

void requestReceiveBuffer(SocketHandle socket, int bytes) {
    ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes));
}

int receiveBufferSize(SocketHandle socket) {
    int bytes = 0;
    socklen_t length = sizeof(bytes);
    return ::getsockopt(socket, SOL_SOCKET, SO_RCVBUF, &bytes, &length) == 0 ? bytes : -1;
}

void ignoreUnreachableReports(SocketHandle) {}

int pollSockets(PollSlot* slots, size_t count, int timeoutMs) {
    pollfd native[8];
    if (count > 8) {
        errno = EINVAL;
        return -1;
    }
    for (size_t i = 0; i < count; ++i) {
        native[i] = pollfd{slots[i].socket, slots[i].events, 0};
    }
    int result = ::poll(native, count, timeoutMs);
    if (result < 0 && errno == EINTR) {
        result = 0;
    }
    for (size_t i = 0; i < count; ++i) {
        slots[i].revents = result > 0 ? native[i].revents : 0;
    }
    return result;
}

int lastSocketError() {
    return errno;
}

bool isWouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK;
}

bool raiseThreadPriority() {
    // Linux keeps a nice value per thread; two steps up mirrors "highest" above "normal".
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, tid);
    if (current == -1 && errno != 0) {
        return false;
    }
    return ::setpriority(PRIO_PROCESS, tid, current - 2) == 0;
}

void nameCurrentThread(const char* name) {
    ::pthread_setname_np(::pthread_self(), name);
}

std::vector<AdapterAddress> listAdapterAddresses() {
    std::vector<AdapterAddress> result;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return result;
    }
    std::vector<std::string> seen;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET ||
            entry->ifa_netmask == nullptr || entry->ifa_name == nullptr) {
            continue;
        }
        const std::string name = entry->ifa_name;
        bool known = false;
        for (const std::string& s : seen) {
            known = known || s == name;
        }
        if (known) {
            continue;
        }
        seen.push_back(name);
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        const auto* mask = reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask);
        result.push_back({address->sin_addr.s_addr, mask->sin_addr.s_addr});
    }
    ::freeifaddrs(list);
    return result;
}

#endif
