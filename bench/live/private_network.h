// Benchmarks that run the module against simulated cars live in a network namespace of their
// own (the source probes every private subnet it is on); the car network is built inside it.
#pragma once

#include <string>
#include <vector>

// Moves the process into a fresh network namespace with loopback up. Call it first in main,
// before any thread starts: a namespace entered later holds only the calling thread.
bool enterOwnNetwork();

// Takes "--NAME=VALUE" out of argv (so Google Benchmark never sees it); empty when absent.
std::string takeFlag(int& argc, char** argv, const std::string& name);
