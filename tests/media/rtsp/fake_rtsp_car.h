// A scripted stand-in for the car's RTSP side: TCP 554 on 127.0.0.1, answering each request as
// a script says and recording what came on every connection, plus the two UDP media ports the
// "dummy" datagrams go to. Binds fixed ports: only in a private network namespace.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace rtsptest {

using Clock = std::chrono::steady_clock;

struct Request {
    int connection = 0; // in order of acceptance, from 0
    std::string method;
    int repeat = 0;   // earlier requests of this method on this connection
    std::string text; // through the empty line
};

struct CarConnection {
    Clock::time_point accepted;
    std::vector<std::string> requests;
    bool closedByClient = false;

    // How many requests of `method` came on this connection.
    int count(const std::string& method) const;
};

class FakeRtspCar {
public:
    // The bytes the car writes back to one request, in one write; empty writes nothing.
    using Script = std::function<std::string(const Request&)>;
    using Connections = std::vector<CarConnection>;

    explicit FakeRtspCar(Script script);
    ~FakeRtspCar();
    FakeRtspCar(const FakeRtspCar&) = delete;
    FakeRtspCar& operator=(const FakeRtspCar&) = delete;

    bool ok() const { return listener >= 0 && media[0] >= 0 && media[1] >= 0; }
    // After this many connections the car stops listening; later connects are refused.
    void acceptAtMost(int count);
    // Writes `bytes` on connection `index` every `period` from its acceptance on.
    void trickle(int index, std::string bytes, std::chrono::milliseconds period);

    Connections connections();
    // Whether `condition` holds for the connections within 10 s.
    bool waitFor(const std::function<bool(const Connections&)>& condition);
    // The next datagram on port 4500 (index 0) or 4501 (index 1) with its source port; nothing
    // after 10 s.
    std::optional<std::pair<std::string, uint16_t>> datagram(int index);

private:
    struct Live {
        int fd = -1;
        std::string buffer;
        Clock::time_point nextTrickle = Clock::time_point::max();
    };

    void run() noexcept;
    void accept();
    void serve(size_t index);
    void trickleDue();

    const Script script;
    int listener = -1;
    int media[2] = {-1, -1};
    int wake[2] = {-1, -1};
    bool stopping = false;  // guarded by mutex
    std::vector<Live> live; // car thread only

    std::mutex mutex;
    std::condition_variable changed;
    Connections recorded;  // guarded by mutex
    int acceptLimit = -1;  // guarded by mutex
    int trickleIndex = -1; // guarded by mutex
    std::string trickleBytes;
    std::chrono::milliseconds tricklePeriod{0};
    std::thread thread;
};

// "RTSP/1.0 200 OK", the request's CSeq line, `headers` (whole lines) and the empty line.
std::string okAnswer(const Request& request, const std::string& headers = "");
// A car that answers every request well; SETUP gives the session "1A2B3C4D;timeout=60".
std::string goodAnswer(const Request& request);

} // namespace rtsptest
