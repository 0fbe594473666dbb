// The private car network of scripts/carnet.sh, built from inside a test process that already
// runs in a network namespace of its own (drivon_test ... PRIVATE_NETWORK):
//
//   test's namespace                        one fresh namespace per car
//   +----------------------------------+    +--------------------------------------+
//   | dvbr0  192.168.99.2/24 (the host)|    | eth0  192.168.99.1/24   car 1        |
//   |   +-- dvc1gN ---------- veth ---------+ lo    up                              |
//   |   +-- dvc2gN ---------- veth ---------> eth0  192.168.99.3/24   car 2 ...     |
//   +----------------------------------+    +--------------------------------------+
//
// Car i has address 192.168.99.1 for i = 1 and 192.168.99.(i+1) otherwise, broadcast
// 192.168.99.255, and runs bin/carsim with the arguments given. Code under test in the test
// process reaches the cars exactly as a computer on a car's Wi-Fi would: discovery broadcasts on
// the bridge, the car's fixed address, its fixed ports. Nothing outside the test's namespace is
// touched; everything goes away with the object.
#pragma once

#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testnet {

class CarNetwork {
public:
    static constexpr const char* kHostAddress = "192.168.99.2";
    static constexpr const char* kBroadcastAddress = "192.168.99.255";

    // Makes the bridge with the host's address; ok() tells whether that worked.
    CarNetwork();
    // Stops every car (reaped), removes their links and the bridge and the scratch folder.
    ~CarNetwork();
    CarNetwork(const CarNetwork&) = delete;
    CarNetwork& operator=(const CarNetwork&) = delete;

    bool ok() const { return bridgeUp; }
    // What went wrong last, with the car's own output when a car failed to come up.
    const std::string& error() const { return lastError; }

    // Adds the next car (numbered from 1 in the order added) with carsim's arguments, starts it
    // and waits up to 10 s until it answers a discovery probe. The car always writes its wire
    // log to wireLogPath(i) (so `--log` need not be given) and its own messages to output(i).
    bool addCar(std::vector<std::string> carsimArguments);
    // Stops the car (SIGTERM, then SIGKILL after a bound) and takes its link down.
    void stopCar(int car);
    // Starts a stopped car again in a fresh namespace with the same address, optionally with
    // new arguments, and waits until it answers discovery.
    bool startCar(int car);
    bool startCar(int car, std::vector<std::string> carsimArguments);
    bool carRunning(int car) const;

    int carCount() const { return static_cast<int>(cars.size()); }
    static std::string carAddress(int car);
    std::string wireLogPath(int car) const;
    // Everything the car received so far (one JSON line per message), and what it printed.
    std::string wireLog(int car) const;
    std::string output(int car) const;

private:
    struct Car;

    bool start(Car& car);
    bool waitAnswering(Car& car);
    void stop(Car& car);
    Car* find(int car) const;

    bool bridgeUp = false;
    std::string scratch; // wire logs and outputs of the cars
    std::string lastError;
    std::vector<std::unique_ptr<Car>> cars;
};

// Runs a program (looked up in the usual system folders when the name has no slash) with its
// standard output and error going to the caller's, or to nowhere when quiet; its exit status,
// or -1 when it could not run or was killed.
int runProgram(const std::vector<std::string>& arguments, bool quiet = false);

} // namespace testnet
