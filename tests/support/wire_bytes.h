// Building byte strings for hand-made DNS fixtures.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

using bytes = std::vector<std::uint8_t>;

inline bytes operator+(bytes a, const bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A label: its length octet, then its characters.
inline bytes lab(const std::string& s)
{
    bytes b;
    b.push_back(static_cast<std::uint8_t>(s.size()));
    for (char ch : s) b.push_back(static_cast<std::uint8_t>(ch));
    return b;
}

inline bytes oct(std::initializer_list<int> values)
{
    bytes b;
    for (int v : values) b.push_back(static_cast<std::uint8_t>(v));
    return b;
}

const bytes end_octet = oct({0x00});
