// The socket layer under the device clients: one manager per connected device, a few
// connections each owning TCP and UDP sockets to that device, one poll thread that reads every
// socket and hands each chunk to the owning connection's handler or queue.
#pragma once

#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "net/net_errors.h"
#include "net/platform/socket_platform.h"
#include "net/socket_address.h"
#include "net/spin_lock.h"

class NetManager {
public:
    enum SocketKind : int { kSocketTcp = 1, kSocketUdp = 2 };

    // One received chunk (the bytes of one receive call), or one packet to send.
    struct NetPacket {
        std::vector<uint8_t> data;
        int socket = kInvalidSocket;
        // Steady-clock nanoseconds of the poll pass that read it; INT64_MIN for outgoing ones.
        int64_t timestamp = INT64_MIN;
    };

    using PacketHandler = std::function<void(std::unique_ptr<NetPacket>)>;
    // Socket handle first, then the negative code of net_errors.h carried as unsigned.
    using ErrorCallback = std::function<void(int socket, unsigned code)>;

    // Unbounded queue from the poll thread to a connection's reader; once closed, it stays
    // closed and holds nothing.
    class PacketQueue {
    public:
        // False (and the packet dropped) when the queue is closed.
        bool push(std::unique_ptr<NetPacket> packet);
        // Readers blocked in pop() right now (for tests that must close while they wait).
        size_t waitingReaders() const;
        // Time-out 0 waits without limit; a negative one never waits.
        bool pop(std::unique_ptr<NetPacket>& packet, int timeoutMs);
        void close();

    private:
        std::deque<std::unique_ptr<NetPacket>> packets_; // guarded by mutex_
        mutable std::mutex mutex_;
        std::condition_variable changed_;
        bool open_ = true;   // guarded by mutex_
        size_t waiting_ = 0; // guarded by mutex_
    };

    class NetConnection {
    public:
        ~NetConnection();
        NetConnection(const NetConnection&) = delete;
        NetConnection& operator=(const NetConnection&) = delete;

        // Opens a socket of `kind` to (TCP) or for (UDP) the device on `port`. 0 and the handle
        // in `socket`, or a NetError code; a failed socket is closed before this returns.
        int open(int kind, uint16_t port, int& socket);
        // Consumes the packet in every case; sends it on its `socket`, which must be one of the
        // manager's registered sockets.
        bool send(std::unique_ptr<NetPacket> packet);
        bool receive(std::unique_ptr<NetPacket>& packet, int timeoutMs);
        // From now on every packet of this connection goes to `handler` on the poll thread.
        void setPacketHandler(PacketHandler handler);
        // The bound port of one of the manager's UDP sockets; 65535 when it is not registered.
        uint16_t localPort(int socket);
        // Closes the queue and the sockets this connection opened.
        void close();

        int id() const { return id_; }

    private:
        friend class NetManager;
        NetConnection(NetManager* manager, int id);
        // Poll thread: to the handler if one is set, otherwise to the queue.
        void deliver(std::unique_ptr<NetPacket> packet) noexcept;

        // Non-owning; cleared by the manager's shutdown, after which every operation fails.
        std::atomic<NetManager*> manager_;
        const int id_;
        PacketQueue queue_;
        std::mutex handlerMutex_;
        std::shared_ptr<const PacketHandler> handler_; // guarded by handlerMutex_
        std::list<int> sockets_;                       // guarded by the manager's lock
    };

    struct SocketEntry {
        int socket = kInvalidSocket;
        int kind = 0;
        uint16_t port = 0;      // remote port, host order
        uint16_t localPort = 0; // UDP only; 65535 when it could not be read
        sockaddr_storage peer{};
        std::shared_ptr<NetConnection> owner; // a registered socket keeps its connection alive
        // Tells this socket from a later one that was given the same handle number.
        uint64_t registration = 0;
    };

    static constexpr size_t kMaxSockets = 8;
    static constexpr int kPollTimeoutMs = 100;
    static constexpr int kConnectTimeoutMs = 5000;
    static constexpr size_t kReadBufferSize = 2048;
    // Datagrams the system may hold for a UDP socket while the poll thread is busy: a key frame
    // arrives as dozens of datagrams at once, and the Sonix media handler decodes on the poll
    // thread, so the system's default buffer (about 200 KiB) overflows on a loaded machine.
    static constexpr int kDatagramReceiveBuffer = 2 * 1024 * 1024;
    static constexpr int kSendRetryMs = 100;
    static constexpr int kSendStallMs = 5000;
    static constexpr uint16_t kUnknownPort = 65535;

    // Starts no thread; the first successful open does.
    NetManager(const sockaddr_storage& local, const sockaddr_storage& remote,
               ErrorCallback onError);
    // Must not run on the poll thread (a handler must not drop the last reference).
    ~NetManager();
    NetManager(const NetManager&) = delete;
    NetManager& operator=(const NetManager&) = delete;

    // Null only when memory runs out.
    std::shared_ptr<NetConnection> createConnection();
    // Closes every socket and queue, drops the connections and joins the poll thread; true.
    // Called on the manager's own poll thread (from a packet handler or onError) it could not
    // join that thread, so it is refused there: it returns false and changes nothing.
    bool shutdown() noexcept;

    static std::unique_ptr<NetPacket> makePacket(int socket, std::vector<uint8_t> data);

private:
    int openSocket(NetConnection& connection, int kind, uint16_t port, int& socket);
    int openUdp(SocketEntry& entry);
    int openTcp(SocketEntry& entry);
    bool startPollThread();
    bool sendPacket(NetConnection& connection, std::unique_ptr<NetPacket> packet);
    int sendAll(int socket, const std::vector<uint8_t>& data);
    uint16_t localPortOf(int socket);
    void closeSockets(NetConnection& connection);

    void pollLoop() noexcept;
    void pollPass();
    void readSocket(int socket, uint64_t registration, int64_t timestamp);
    // Unregisters the socket if it still is the one the pass saw; closes it when asked.
    bool dropSocket(int socket, uint64_t registration, bool closeIt);
    void idleWait();
    void reportError(int socket, int code) noexcept;

    // Set on a poll thread to the manager it serves, so shutdown can tell a call from that
    // thread's own handler, which must not join.
    static thread_local const NetManager* pollingManager_;

    sockaddr_storage remote_;
    sockaddr_storage local_;
    std::atomic<bool> running_{false};
    SpinLock lock_;
    std::thread pollThread_;                                    // guarded by threadMutex_
    int nextConnectionId_ = 0;                                  // guarded by lock_
    std::map<int, std::shared_ptr<NetConnection>> connections_; // guarded by lock_
    std::map<int, SocketEntry> sockets_;                        // guarded by lock_
    const ErrorCallback onError_;
    uint64_t nextRegistration_ = 0; // guarded by lock_
    // Taken only with try_lock under lock_, so a shutdown that joins cannot deadlock an open.
    std::mutex threadMutex_;
    // Lets shutdown end a pass that waits with nothing to poll.
    std::mutex idleMutex_;
    std::condition_variable idleWake_;
};
