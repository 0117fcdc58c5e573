// tandrelo-mdns interfaces: the usable IPv4 adapters, as a table or as the
// library's JSON report.
#include <cstdio>
#include <string>

#include <CLI/CLI.hpp>

#include "tandrelo_mdns.h"
#include "tool.h"

namespace tool {

int run_interfaces(int argc, char** argv)
{
    CLI::App app;
    bool as_json = false;
    app.add_flag("--json", as_json);
    if (int done = parse_command(app, "interfaces", argc, argv, {}); done >= 0) return done;
    const char* report = mdns_interfaces();
    if (as_json) {
        std::printf("%s\n", report);
        return exit_ok;
    }
    Json adapters;
    std::string why = "not an array";
    if (!read_report(report, adapters, &why) || !adapters.is_array()) {
        std::fprintf(stderr, "tandrelo-mdns: the interface report could not be read (%s)\n", why.c_str());
        return exit_failure;
    }
    if (adapters.empty()) {
        std::printf("No usable IPv4 adapter (up, not loopback, not link-local);\n"
                    "announce would use 127.0.0.1.\n");
        return exit_ok;
    }
    std::printf("%-16s %-16s %s\n", "ADDRESS", "GATEWAY", "NAME");
    for (const Json& adapter : adapters) {
        const std::string gateway = json_str(adapter, "gateway");
        std::printf("%-16s %-16s %s\n", json_str(adapter, "ip").c_str(), gateway.empty() ? "-" : gateway.c_str(),
                    printable(json_str(adapter, "name")).c_str());
    }
    return exit_ok;
}

}  // namespace tool
