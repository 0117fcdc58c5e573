// tandrelo-mdns interfaces: the usable IPv4 adapters, as a table or as the
// library's JSON report.
#include <cstdio>
#include <string>

#include "json_reader.h"
#include "tandrelo_mdns.h"
#include "tool.h"

namespace tool {

int run_interfaces(int argc, char** argv)
{
    bool as_json = false;
    for (int i = 2; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg == "--json") {
            as_json = true;
        } else if (arg == "--help" || arg == "-h") {
            print_usage("interfaces", stdout);
            return exit_ok;
        } else {
            return usage_error("interfaces", "unknown option '" + arg + "'");
        }
    }
    const char* report = mdns_interfaces();
    if (as_json) {
        std::printf("%s\n", report);
        return exit_ok;
    }
    JsonValue adapters;
    std::string why;
    if (!parse_json(report, adapters, &why) || adapters.kind != JsonValue::Kind::array) {
        std::fprintf(stderr, "tandrelo-mdns: the interface report could not be read (%s)\n", why.c_str());
        return exit_failure;
    }
    if (adapters.items.empty()) {
        std::printf("No usable IPv4 adapter (up, not loopback, not link-local);\n"
                    "announce would use 127.0.0.1.\n");
        return exit_ok;
    }
    std::printf("%-16s %-16s %s\n", "ADDRESS", "GATEWAY", "NAME");
    for (const JsonValue& adapter : adapters.items) {
        const std::string gateway = adapter.str("gateway");
        std::printf("%-16s %-16s %s\n", adapter.str("ip").c_str(), gateway.empty() ? "-" : gateway.c_str(),
                    printable(adapter.str("name")).c_str());
    }
    return exit_ok;
}

}  // namespace tool
