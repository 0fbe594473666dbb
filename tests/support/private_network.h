// Test executables built with PRIVATE_NETWORK run in a network namespace of their own: only a
// loopback interface, brought up before the first test. They may bind the car's fixed ports and
// send anywhere without clashing with each other (ctest runs every test as its own process) or
// reaching a real network.
#pragma once

namespace testnet {

// True when the calling process now has a private network namespace with loopback up.
bool enterPrivateNetwork();

// Whether enterPrivateNetwork succeeded at start-up (it needs root); tests that need the private
// network skip without it.
bool havePrivateNetwork();

} // namespace testnet
