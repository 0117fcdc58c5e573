// The interface report: the usable adapters as a JSON array.
#pragma once

#include <cstddef>

#include "net/adapters.h"

// Renders the listed adapters into buffer (capacity cap, at least 3) as a
// JSON array of objects with ip, name, gateway, up and loopback. An entry
// that does not fit whole is left out and later ones are still tried; the
// array is always closed and terminated. Returns the text length.
std::size_t render_interfaces_json(const adapter_entry* list, int count, char* buffer,
                                   std::size_t cap);
