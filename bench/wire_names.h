// Names in wire form for the benchmarks' hand-made datagrams: each run of
// characters up to a "." becomes one label, then the zero octet.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline std::vector<std::uint8_t> bench_name(const std::string& dotted)
{
    std::vector<std::uint8_t> out;
    std::size_t start = 0;
    while (start <= dotted.size()) {
        std::size_t dot = dotted.find('.', start);
        if (dot == std::string::npos) dot = dotted.size();
        if (dot > start) {
            out.push_back(static_cast<std::uint8_t>(dot - start));
            out.insert(out.end(), dotted.begin() + static_cast<long>(start),
                       dotted.begin() + static_cast<long>(dot));
        }
        start = dot + 1;
    }
    out.push_back(0);
    return out;
}
