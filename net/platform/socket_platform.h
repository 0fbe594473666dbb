// The one place where the socket layer meets the operating system. Everything above it is
// written against these Winsock-shaped names, so it builds for POSIX and Windows alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

// Socket handles travel as int, as in the rest of the module; Winsock handles fit in 32 bits.
using SocketHandle = int;
constexpr SocketHandle kInvalidSocket = -1;

constexpr int kFamilyIPv4 = AF_INET;
// 23 on Windows, 10 on Linux: always compare against this, never against a number.
constexpr int kFamilyIPv6 = AF_INET6;

// Poll flags by name; the numbers differ between platforms (0x0300 is "writable" on Linux).
extern const short kPollReadable; // normal or priority-band data
extern const short kPollHangUp;
extern const short kPollError;
extern const short kPollInvalid; // the handle was not open when polled

struct PollSlot {
    SocketHandle socket;
    short events;
    short revents;
};

// Returns kInvalidSocket on failure. Handles are not inherited by child processes. Datagram
// sockets ignore unreachable reports (below) from the start.
SocketHandle createSocket(int family, int type, int protocol);
void closeSocket(SocketHandle socket);
bool setNonBlocking(SocketHandle socket);
bool bindSocket(SocketHandle socket, const sockaddr_storage& address, int length);
enum class ConnectStart { Connected, InProgress, Failed };
// Starts a connect on a non-blocking socket. InProgress: the outcome is learnt from waitWritable
// and pendingSocketError. Failed: the system refused at once (no route, address not available,
// permission); such a socket would still poll writable with no pending error.
ConnectStart startConnect(SocketHandle socket, const sockaddr_storage& address, int length);
// 1 when the socket became writable (or failed), 0 on time-out, -1 when the wait failed.
int waitWritable(SocketHandle socket, int timeoutMs);
// The socket's pending error (SO_ERROR), or the error of the query itself when that fails.
int pendingSocketError(SocketHandle socket);
bool localAddress(SocketHandle socket, sockaddr_storage& address);

// Byte count, or -1 with lastSocketError() set. Stream sends never raise a broken-pipe signal.
long sendStream(SocketHandle socket, const uint8_t* data, size_t length);
long sendDatagram(SocketHandle socket, const uint8_t* data, size_t length,
                  const sockaddr_storage& to, int toLength);
long receiveStream(SocketHandle socket, uint8_t* buffer, size_t capacity);
// The bytes of a datagram longer than `capacity` past it are dropped on both platforms (Windows
// would otherwise fail the call). The sender's address is read into a scratch buffer and dropped.
long receiveDatagram(SocketHandle socket, uint8_t* buffer, size_t capacity);
// Like receiveDatagram, and reports the sender in `from`, zero-filled beyond what the system
// wrote so that addresses compare byte for byte.
long receiveDatagramFrom(SocketHandle socket, uint8_t* buffer, size_t capacity,
                         sockaddr_storage& from);

// Lets a datagram socket send to broadcast addresses.
bool enableBroadcast(SocketHandle socket);
// A blocking receive on the socket fails after `timeoutMs` (more than 0) without data, with an
// error for which isReceiveTimeout holds.
bool setReceiveTimeout(SocketHandle socket, int timeoutMs);
// Asks the system to keep up to `bytes` of unread datagrams; it may grant less (Linux caps the
// request at net.core.rmem_max and reports twice what it keeps). Best effort.
void requestReceiveBuffer(SocketHandle socket, int bytes);
// What the system reports as the socket's receive buffer, in bytes; -1 if it cannot be read.
int receiveBufferSize(SocketHandle socket);
bool isReceiveTimeout(int error);
// Windows reports an ICMP "port unreachable" for an earlier send as a failure of the next
// receive on the datagram socket; this turns that off (nothing to do elsewhere, where an
// unconnected socket never hears of it). Best effort.
void ignoreUnreachableReports(SocketHandle socket);

// Number of slots with events, 0 on time-out or interruption, -1 on failure. POSIX meanings on
// both platforms: a handle that is not open marks its slot kPollInvalid and fails nothing else,
// and a peer's orderly close reads as readable (the receive then returns 0), not as a hang-up.
int pollSockets(PollSlot* slots, size_t count, int timeoutMs);

int lastSocketError();
bool isWouldBlock(int error);

// Best effort: false when the system refused; the caller goes on at normal priority.
bool raiseThreadPriority();
// Names the calling thread for debuggers and /proc; at most 15 characters.
void nameCurrentThread(const char* name);

// First IPv4 address of one network interface, with its mask; both in network byte order.
struct AdapterAddress {
    uint32_t address;
    uint32_t mask;
};
// In the system's interface order, one entry per interface that has an IPv4 address.
std::vector<AdapterAddress> listAdapterAddresses();
