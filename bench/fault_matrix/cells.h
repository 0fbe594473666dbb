// The cells of the fault matrix: one simulated car with one fault, one source, and what to
// measure. Each cell runs in a car network of its own.
#pragma once

#include <string>
#include <vector>

namespace faults {

enum class CellKind {
    Stream,     // the car streams with a fault on its datagrams; steady-state figures
    Connection, // the connection breaks (heartbeats, control close, vanish): outages, recovery
    Silent,     // a car the source must not use: no pictures, nothing left behind
    Cycles,     // create, first picture, destroy, again and again
    Destroy,    // destroy the source in one state, again and again
};

struct Cell {
    std::string name;
    std::string family; // "sonix" or "zoderiv"
    CellKind kind = CellKind::Stream;
    std::string fault;                     // what a reader of the table sees
    std::vector<std::string> carArguments; // carsim's, after family and name
    double seconds = 0;      // measured streaming (Stream) or whole run (Connection, Silent)
    double lossPercent = -1; // for the plot; -1 when the cell is no loss-sweep point
    int parity = 2;
    bool reference = false;   // the car replays the reference file: every access unit checked
    double returnAt = -1;     // Connection with --vanish: seconds after the car started
    int repetitions = 0;      // Cycles, Destroy
    std::string destroyState; // Destroy: "scanning", "connecting" or "streaming"
};

struct MatrixOptions {
    std::vector<std::string> families{"sonix", "zoderiv"};
    double streamSeconds = 12;
    int cycles = 100;
    int destroyRepetitions = 10;
};

std::vector<Cell> matrixCells(const MatrixOptions& options);

} // namespace faults
