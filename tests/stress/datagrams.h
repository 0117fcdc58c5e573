// Datagrams for the stress test: queries for the names a responder may
// answer for, other hosts' announcements (now and then one that claims a
// host name the test gives the responder), and malformed copies of both.
#pragma once

#include <random>

#include "support/wire_bytes.h"

// One datagram chosen at random; malformed tells whether it was spoiled.
bytes stress_datagram(std::mt19937& r, bool& malformed);
