// tandrelo-mdns announce: runs the responder, shows what it announces and,
// while it runs, how many queries it has received and answered.
#include <cstdio>
#include <string>

#include "json_reader.h"
#include "tandrelo_mdns.h"
#include "tool.h"

namespace tool {
namespace {

// The status line is printed when the counters change, at most this often.
constexpr long long status_interval_ms = 1000;

}  // namespace

int run_announce(int argc, char** argv)
{
    ResponderOptions options;
    long long seconds = -1;
    for (int i = 2; i < argc; i++) {
        const std::string arg = argv[i];
        int taken = take_responder_option("announce", argc, argv, i, options);
        if (taken == 0) taken = take_seconds_option("announce", argc, argv, i, seconds);
        if (taken < 0) return -taken;
        if (taken > 0) continue;
        if (arg == "--help" || arg == "-h") {
            print_usage("announce", stdout);
            return exit_ok;
        }
        return usage_error("announce", "unknown option '" + arg + "'");
    }

    install_stop_handler();
    const long long started = now_ms();
    if (int status = start_responder(options); status != exit_ok) return status;

    JsonValue stats;
    parse_json(mdns_stats(), stats, nullptr);
    std::printf("tandrelo-mdns %s announcing on UDP port %lld, interface %s (%s)\n", mdns_version(),
                stats.integer("port"), stats.str("interface").c_str(),
                seconds >= 0 ? ("for " + std::to_string(seconds) + " s").c_str() : "Ctrl-C stops");
    print_announcement(stats);

    std::string hostname = stats.str("hostname");
    std::string shown = "queries 0  answers 0";
    long long shown_at = 0;
    const long long deadline = seconds >= 0 ? started + seconds * 1000 : -1;
    for (;;) {
        const bool ending = stop_requested() || (deadline >= 0 && now_ms() >= deadline);
        JsonValue now;
        if (parse_json(mdns_stats(), now, nullptr)) {
            if (now.str("hostname") != hostname) {
                hostname = now.str("hostname");
                std::printf("host name conflict: now answering as %s.local\n", hostname.c_str());
                std::fflush(stdout);
            }
            const std::string line = "queries " + now.str("queries") + "  answers " + now.str("answers");
            const long long elapsed = now_ms() - started;
            if (line != shown && (ending || elapsed - shown_at >= status_interval_ms)) {
                std::printf("%5llds  %s\n", elapsed / 1000, line.c_str());
                std::fflush(stdout);
                shown = line;
                shown_at = elapsed;
            }
        }
        if (ending) break;
        long long wait = 200;
        if (deadline >= 0 && deadline - now_ms() < wait) wait = deadline - now_ms();
        pause_ms(wait);
    }
    mdns_stop();
    std::printf("stopped: %s\n", shown.c_str());
    return exit_ok;
}

}  // namespace tool
