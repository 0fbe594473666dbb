// The frame of every end-to-end case: a private car network in the test's own namespace, the
// module in a small host, the module's own log lines, and the waits and checks the cases share.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/host_harness.h"
#include "tests/e2e/picture_checks.h"
#include "tests/support/car_network.h"

namespace e2e {

// The module's lines, byte for byte.
LogLine connected();
LogLine connectFailed();
LogLine couldntConnect();
LogLine noDevices();
LogLine noSuitableDevice();
LogLine couldntCreateClient();
LogLine inUse(const std::string& name);

// One step of an expected log: `line` between `least` and `most` times in a row.
struct Step {
    LogLine line;
    int least = 1;
    int most = 1;
};
constexpr int kAny = 1 << 30;
// Empty when the lines are exactly the steps in order, otherwise what differs.
std::string sequenceMismatch(const std::vector<LogLine>& lines, const std::vector<Step>& steps);
int countOf(const std::vector<LogLine>& lines, const LogLine& line);

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // carsim's arguments for a car of the family with the name, then the extra ones.
    static std::vector<std::string> car(const std::string& family, const std::string& name,
                                        std::vector<std::string> extra = {});

    // Until the source's log holds `count` copies of `line`.
    bool waitForLine(int source, const LogLine& line, int count = 1,
                     std::chrono::milliseconds bound = kBound);
    // Until the source is connected and shows new pictures of the test pattern. The bound
    // covers a scan, a link, a connect and the first key frame, each of which may take seconds
    // on a busy machine.
    bool waitStreaming(int source, std::chrono::milliseconds bound = 2 * kBound);
    // Until `more` further pictures were uploaded and the last shows the pattern.
    bool waitMorePictures(int source, uint64_t more, std::chrono::milliseconds bound = kBound);
    // Until the source shows the fill colour.
    bool waitFill(int source, uint32_t colour, std::chrono::milliseconds bound = kBound);
    uint64_t uploads(int source) const { return host->stats(source).uploads; }
    const Logo& logo();

    std::unique_ptr<testnet::CarNetwork> network;
    std::unique_ptr<Host> host;

private:
    Logo installedLogo;
};

} // namespace e2e
