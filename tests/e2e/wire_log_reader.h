// Reads a simulated car's wire log (one JSON line per message the car received, written by
// `carsim --log`): which control requests the module sent, in order.
#pragma once

#include <string>
#include <vector>

namespace e2e {

// The names of the control requests on the car's control port, in the order received: a
// Sonix request's "type", a Zoderiv request's "command". Lines that are not control requests
// are left out.
std::vector<std::string> controlRequests(const std::string& wireLog);

// How many times `name` was requested.
int requestCount(const std::string& wireLog, const std::string& name);

// How many lines the car's own output holds that contain `text`.
int outputCount(const std::string& output, const std::string& text);
// How many control connections the car accepted, by its own output.
int controlConnections(const std::string& output);

} // namespace e2e
