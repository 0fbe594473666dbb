#include "tests/e2e/e2e_fixture.h"

#include <algorithm>
#include <sstream>

#include "tests/e2e/wire_log_reader.h"
#include "tests/support/private_network.h"

namespace e2e {

LogLine connected() {
    return {400, "[drivon] connect: 1"};
}
LogLine connectFailed() {
    return {400, "[drivon] connect: 0"};
}
LogLine couldntConnect() {
    return {200, "[drivon] couldnt connect to any Drivon"};
}
LogLine noDevices() {
    return {400, "[drivon] no Drivon devices found"};
}
LogLine noSuitableDevice() {
    return {400, "[drivon] Couldn't find suitable device, continuing scan.."};
}
LogLine couldntCreateClient() {
    return {200, "[drivon] couldnt create client"};
}
LogLine inUse(const std::string& name) {
    return {400, "[drivon] Device " + name + " is being used by another instance, skipping"};
}

std::string sequenceMismatch(const std::vector<LogLine>& lines, const std::vector<Step>& steps) {
    size_t at = 0;
    for (const Step& step : steps) {
        int seen = 0;
        while (at < lines.size() && seen < step.most && lines[at] == step.line) {
            ++at;
            ++seen;
        }
        if (seen < step.least) {
            std::ostringstream out;
            out << "line " << at << ": expected [" << step.line.level << "] " << step.line.text
                << " (" << step.least - seen << " more) in:\n"
                << describe(lines);
            return out.str();
        }
    }
    if (at != lines.size()) {
        return "line " + std::to_string(at) + " unexpected in:\n" + describe(lines);
    }
    return {};
}

int countOf(const std::vector<LogLine>& lines, const LogLine& line) {
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

void EndToEnd::SetUp() {
    if (!testnet::havePrivateNetwork()) {
        GTEST_SKIP() << "needs a network namespace of its own (root)";
    }
    network = std::make_unique<testnet::CarNetwork>();
    ASSERT_TRUE(network->ok()) << network->error();
    host = std::make_unique<Host>();
    ASSERT_TRUE(host->ok());
}

void EndToEnd::TearDown() {
    if (HasFailure() && host && network) {
        std::ostringstream out;
        out << "the module logged:\n" << describe(host->log());
        for (int car = 1; car <= network->carCount(); ++car) {
            out << "car " << car << " printed:\n" << network->output(car);
            out << "car " << car << " was asked:";
            for (const std::string& name : controlRequests(network->wireLog(car))) {
                out << " " << name;
            }
            out << "\n";
        }
        std::fputs(out.str().c_str(), stderr);
    }
    // The sources go first, while their cars are still there to be disconnected from.
    host.reset();
    network.reset();
}

std::vector<std::string> EndToEnd::car(const std::string& family, const std::string& name,
                                       std::vector<std::string> extra) {
    std::vector<std::string> arguments = {"--family", family, "--name", name};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
}

const Logo& EndToEnd::logo() {
    // The module installs its logo when the first source is created.
    if (installedLogo.rgba.empty()) {
        installedLogo = loadLogo(host->logoPath());
    }
    return installedLogo;
}

bool EndToEnd::waitForLine(int source, const LogLine& line, int count,
                           std::chrono::milliseconds bound) {
    return host->waitUntil([&] { return countOf(host->log(source), line) >= count; }, bound);
}

bool EndToEnd::waitStreaming(int source, std::chrono::milliseconds bound) {
    // A couple of new pictures: the texture alone could still hold an old one.
    return waitMorePictures(source, 2, bound);
}

bool EndToEnd::waitMorePictures(int source, uint64_t more, std::chrono::milliseconds bound) {
    const uint64_t start = uploads(source);
    return host->waitUntil(
        [&] {
            const Picture picture = host->picture(source);
            return picture.stats.uploads >= start + more && patternMismatch(picture).empty();
        },
        bound);
}

bool EndToEnd::waitFill(int source, uint32_t colour, std::chrono::milliseconds bound) {
    return host->waitUntil(
        [&] { return fillMismatch(host->picture(source), logo(), colour).empty(); }, bound);
}

} // namespace e2e
