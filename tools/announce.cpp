// tandrelo-mdns announce: runs the responder, shows what it announces and,
// while it runs, how many queries it has received and answered.
#include <cstdio>
#include <string>

#include <CLI/CLI.hpp>

#include "tandrelo_mdns.h"
#include "tool.h"

namespace tool {
namespace {

// The status line is printed when the counters change, at most this often.
constexpr long long status_interval_ms = 1000;

}  // namespace

int run_announce(int argc, char** argv)
{
    CLI::App app;
    ResponderArgs args;
    std::string seconds_text;
    add_responder_options(app, args);
    app.add_option("-s,--seconds", seconds_text);
    if (int done = parse_command(app, "announce", argc, argv, responder_option_needs()); done >= 0)
        return done;
    long long seconds = -1;
    ResponderOptions options;
    if (int status = read_seconds("announce", seconds_text, app.count("--seconds") > 0, seconds);
        status != exit_ok)
        return status;
    if (int status = apply_responder_options("announce", app, args, options); status != exit_ok)
        return status;

    install_stop_handler();
    const long long started = now_ms();
    if (int status = start_responder(options); status != exit_ok) return status;

    Json stats;
    read_report(mdns_stats(), stats, nullptr);
    std::printf("tandrelo-mdns %s announcing on UDP port %lld, interface %s (%s)\n", mdns_version(),
                json_int(stats, "port"), json_str(stats, "interface").c_str(),
                seconds >= 0 ? ("for " + std::to_string(seconds) + " s").c_str() : "Ctrl-C stops");
    print_announcement(stats);

    std::string hostname = json_str(stats, "hostname");
    std::string shown = "queries 0  answers 0";
    long long shown_at = 0;
    const long long deadline = seconds >= 0 ? started + seconds * 1000 : -1;
    for (;;) {
        const bool ending = stop_requested() || (deadline >= 0 && now_ms() >= deadline);
        Json now;
        if (read_report(mdns_stats(), now, nullptr)) {
            if (json_str(now, "hostname") != hostname) {
                hostname = json_str(now, "hostname");
                std::printf("host name conflict: now answering as %s.local\n", hostname.c_str());
                std::fflush(stdout);
            }
            const std::string line = "queries " + json_str(now, "queries") + "  answers " + json_str(now, "answers");
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
