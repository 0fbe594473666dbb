#include "carsim/options.h"

#include <cstdlib>
#include <functional>
#include <map>

#include "carsim/endpoint/socket_util.h"

namespace carsim {

const char* usageText() {
    return R"(usage: carsim [options]
Simulates one camera car on the fixed ports, listening on every address.

  --family sonix|zoderiv   device family (default sonix)
  --name NAME              device name in discovery answers (at most 32 bytes)
  --log FILE               wire log: one JSON line per message received
  --stream-to ADDR:PORT    start the video at once, without a control session

Discovery and device identity:
  --discovery-kind N       kind byte of the discovery answer (default: the family's)
  --bad-discovery          also send malformed answers (bad checksum, wrong length)
  --hw-type N              microcontroller hardware type (default 1)
  --fw-major N, --fw-minor N   microcontroller firmware (default 2.5)
  --fw-version TEXT        video board "fwversion" (default V_2.10.00_37B_X_Y)
  --fw-install-seconds S   how long an uploaded image installs (default 5)

Faults (times in seconds, may be fractional):
  --heartbeat-stop S       stop answering heartbeats S s after a control connection opens
  --close-control S        close each control connection S s after it opened
  --vanish S:T             vanish S s after start (everything closed), come back T s later
  --split-answers          Zoderiv answers go out in several TCP writes

Video:
  --bitrate KBPS  --gop N  --shard-size N  --parity M  --input FILE  --vui-timing
  --loss PCT  --burst-loss LEN:PCT  --duplicate PCT  --reorder PCT  --garbage
  --seed N  --start-frame N
)";
}

namespace {

bool toInt(const std::string& text, int& out) {
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < -2147483647L || value > 2147483647L) {
        return false;
    }
    out = static_cast<int>(value);
    return true;
}

bool toDouble(const std::string& text, double& out) {
    char* end = nullptr;
    out = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && out >= 0;
}

// "A:B" into two numbers.
bool toPair(const std::string& text, double& a, double& b) {
    size_t colon = text.find(':');
    return colon != std::string::npos && toDouble(text.substr(0, colon), a) &&
           toDouble(text.substr(colon + 1), b);
}

} // namespace

bool parseOptions(int argc, char** argv, Options& o, std::string& error, bool& help) {
    help = false;
    MediaOptions& m = o.media;
    using Setter = std::function<bool(const std::string&)>;
    auto integer = [](int& target) {
        return Setter([&target](const std::string& v) { return toInt(v, target); });
    };
    auto seconds = [](double& target) {
        return Setter([&target](const std::string& v) { return toDouble(v, target); });
    };
    int seed = 1;
    const std::map<std::string, Setter> withValue = {
        {"--family",
         [&](const std::string& v) {
             if (v == "sonix") {
                 o.family = Family::Sonix;
             } else if (v == "zoderiv") {
                 o.family = Family::Zoderiv;
             } else {
                 return false;
             }
             return true;
         }},
        {"--name",
         [&](const std::string& v) {
             o.name = v;
             return !v.empty() && v.size() <= 32;
         }},
        {"--log",
         [&](const std::string& v) {
             o.logFile = v;
             return !v.empty();
         }},
        {"--stream-to",
         [&](const std::string& v) {
             sockaddr_storage address{};
             if (!parseHostPort(v, address)) {
                 return false;
             }
             o.streamTo = address;
             return true;
         }},
        {"--discovery-kind",
         [&](const std::string& v) {
             return toInt(v, o.discoveryKind) && o.discoveryKind >= 0 && o.discoveryKind <= 255;
         }},
        {"--hw-type", integer(o.hwType)},
        {"--fw-major", integer(o.fwMajor)},
        {"--fw-minor", integer(o.fwMinor)},
        {"--fw-version",
         [&](const std::string& v) {
             o.fwVersion = v;
             return true;
         }},
        {"--fw-install-seconds", seconds(o.fwInstallSeconds)},
        {"--heartbeat-stop", seconds(o.heartbeatStopSeconds)},
        {"--close-control", seconds(o.closeControlSeconds)},
        {"--vanish",
         [&](const std::string& v) { return toPair(v, o.vanishAfterSeconds, o.vanishForSeconds); }},
        {"--bitrate",
         [&](const std::string& v) {
             o.bitrateGiven = true;
             return toInt(v, m.bitrateKbps) && m.bitrateKbps > 0;
         }},
        {"--gop", [&](const std::string& v) { return toInt(v, m.gop) && m.gop > 0; }},
        {"--shard-size",
         [&](const std::string& v) {
             return toInt(v, m.shardSize) && m.shardSize > 0 && m.shardSize <= 2032;
         }},
        {"--parity",
         [&](const std::string& v) { return toInt(v, m.parityPackets) && m.parityPackets >= 0; }},
        {"--loss", seconds(m.lossPercent)},
        {"--burst-loss",
         [&](const std::string& v) {
             double length = 0;
             if (!toPair(v, length, m.burstPercent)) {
                 return false;
             }
             m.burstLength = static_cast<int>(length);
             return true;
         }},
        {"--duplicate", seconds(m.duplicatePercent)},
        {"--reorder", seconds(m.reorderPercent)},
        {"--input",
         [&](const std::string& v) {
             m.inputFile = v;
             return !v.empty();
         }},
        {"--seed", integer(seed)},
        {"--start-frame",
         [&](const std::string& v) {
             return toInt(v, m.startFrameNumber) && m.startFrameNumber >= 0 &&
                    m.startFrameNumber <= 65535;
         }},
    };
    for (int i = 1; i < argc; ++i) {
        std::string flag = argv[i];
        if (flag == "--help" || flag == "-h") {
            help = true;
            return true;
        }
        if (flag == "--bad-discovery") {
            o.badDiscovery = true;
        } else if (flag == "--split-answers") {
            o.splitAnswers = true;
        } else if (flag == "--garbage") {
            m.garbage = true;
        } else if (flag == "--vui-timing") {
            m.vuiTiming = true;
        } else if (auto found = withValue.find(flag); found != withValue.end()) {
            if (i + 1 >= argc) {
                error = flag + " needs a value";
                return false;
            }
            std::string value = argv[++i];
            if (!found->second(value)) {
                error = "bad value for " + flag + ": " + value;
                return false;
            }
        } else {
            error = "unknown option: " + flag;
            return false;
        }
    }
    m.family = o.family;
    m.seed = static_cast<uint32_t>(seed);
    return true;
}

} // namespace carsim
