// Test-side networking: small client sockets for sending crafted datagrams
// to the library and catching what it sends. Built on the platform layer, so
// the same tests run on Linux and under Wine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
