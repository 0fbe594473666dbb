#include "bench/fault_matrix/cells.h"

namespace faults {

namespace {

Cell stream(const std::string& family, std::string name, std::string fault,
            std::vector<std::string> arguments, double seconds) {
    Cell cell;
    cell.name = std::move(name);
    cell.family = family;
    cell.fault = std::move(fault);
    cell.carArguments = std::move(arguments);
    cell.seconds = seconds;
    return cell;
}

} // namespace

std::vector<Cell> matrixCells(const MatrixOptions& options) {
    std::vector<Cell> cells;
    const double w = options.streamSeconds;
    for (const std::string& family : options.families) {
        for (int parity : {1, 2}) {
            for (int loss : {0, 5, 10, 20, 30}) {
                Cell cell =
                    stream(family, "loss" + std::to_string(loss) + "-m" + std::to_string(parity),
                           std::to_string(loss) + " % loss, " + std::to_string(parity) + " parity",
                           {"--loss", std::to_string(loss), "--parity", std::to_string(parity)}, w);
                cell.lossPercent = loss;
                cell.parity = parity;
                cells.push_back(cell);
            }
        }
        cells.push_back(stream(family, "burst2", "bursts of 2 (3 %/datagram), 2 parity",
                               {"--burst-loss", "2:3", "--parity", "2"}, w));
        cells.push_back(stream(family, "burst6", "bursts of 6 (1 %/datagram), 2 parity",
                               {"--burst-loss", "6:1", "--parity", "2"}, w));
        cells.push_back(stream(family, "duplicate", "10 % duplicated", {"--duplicate", "10"}, w));
        cells.push_back(stream(family, "reorder", "10 % reordered", {"--reorder", "10"}, w));
        cells.push_back(stream(family, "garbage", "hostile datagrams", {"--garbage"}, w));
        cells.push_back(
            stream(family, "bad-discovery", "malformed discovery answers", {"--bad-discovery"}, w));

        Cell heartbeat = stream(family, "heartbeat-stop", "heartbeats unanswered after 4 s",
                                {"--heartbeat-stop", "4"}, 30);
        heartbeat.kind = CellKind::Connection;
        cells.push_back(heartbeat);
        Cell close = stream(family, "close-control", "control closed after 5 s",
                            {"--close-control", "5"}, 30);
        close.kind = CellKind::Connection;
        cells.push_back(close);
        Cell vanish = stream(family, "vanish", "vanishes at 8 s for 4 s", {"--vanish", "8:4"}, 24);
        vanish.kind = CellKind::Connection;
        vanish.returnAt = 12;
        cells.push_back(vanish);

        Cell unknown = stream(family, "unknown-kind", "discovery answer of an unknown kind",
                              {"--discovery-kind", "9"}, 8);
        unknown.kind = CellKind::Silent;
        cells.push_back(unknown);

        Cell cycles = stream(family, "cycles", "create, first picture, destroy", {}, 0);
        cycles.kind = CellKind::Cycles;
        cycles.repetitions = options.cycles;
        cells.push_back(cycles);
        for (const char* state : {"scanning", "connecting", "streaming"}) {
            Cell destroy = stream(family, std::string("destroy-") + state,
                                  std::string("destroyed while ") + state, {}, 0);
            destroy.kind = CellKind::Destroy;
            destroy.repetitions = options.destroyRepetitions;
            destroy.destroyState = state;
            cells.push_back(destroy);
        }

        // The car replays a known stream, so every access unit can be checked byte for byte.
        struct Checked {
            const char* name;
            const char* fault;
            std::vector<std::string> arguments;
        };
        const std::vector<Checked> checked = {
            {"loss30-m1", "30 % loss, 1 parity", {"--loss", "30", "--parity", "1"}},
            {"loss20-m2", "20 % loss, 2 parity", {"--loss", "20", "--parity", "2"}},
            {"burst6", "bursts of 6, 2 parity", {"--burst-loss", "6:1", "--parity", "2"}},
            {"duplicate", "10 % duplicated", {"--duplicate", "10"}},
            {"reorder", "10 % reordered", {"--reorder", "10"}},
            {"garbage", "hostile datagrams", {"--garbage"}},
            {"mixed",
             "10 % loss, 5 % duplicated, 5 % reordered, hostile, 1 parity",
             {"--loss", "10", "--duplicate", "5", "--reorder", "5", "--garbage", "--parity", "1"}},
        };
        for (const Checked& c : checked) {
            Cell cell = stream(family, std::string("replay-") + c.name,
                               std::string("replayed stream: ") + c.fault, c.arguments, w);
            cell.reference = true;
            cells.push_back(cell);
        }
    }
    return cells;
}

} // namespace faults
