// tandrelo-mdns browse: runs the browser and prints each service instance,
// service type and host as it appears or changes.
#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <string>

#include "browse_view.h"
#include "json_reader.h"
#include "tandrelo_mdns.h"
#include "tool.h"

namespace tool {
namespace {

constexpr long long poll_interval_ms = 250;

// The library keeps the records of its own host name out of the browse
// cache, and every responder that keeps the default label answers for
// tandrelo.local. A browser that announces nothing therefore takes a label
// that nobody else uses, so that it hears those hosts' address records.
void take_unused_host_label()
{
    std::random_device device;
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    std::mt19937 mix(device() ^ static_cast<unsigned>(now));
    char label[32];
    std::snprintf(label, sizeof label, "browse-%08x", static_cast<unsigned>(mix()));
    mdns_set_hostname(label);
}

struct Printed {
    std::map<std::string, std::string> shown;  // row key -> its last JSON form
    int services = 0;  // rows of each kind in the latest report
    int types = 0;
    int hosts = 0;
};

// Prints the rows of the current report that are new or differ from what
// was printed for them before.
void print_changes(bool as_json, Printed& printed)
{
    JsonValue report;
    std::string why;
    if (!parse_json(mdns_browse_results(), report, &why)) {
        static bool told = false;
        if (!told)
            std::fprintf(stderr, "tandrelo-mdns: the browse report could not be read (%s)\n", why.c_str());
        told = true;
        return;
    }
    printed.services = printed.types = printed.hosts = 0;
    for (const BrowseRow& row : browse_rows(report)) {
        if (row.kind == BrowseRow::Kind::service) printed.services++;
        if (row.kind == BrowseRow::Kind::type) printed.types++;
        if (row.kind == BrowseRow::Kind::host) printed.hosts++;
        const std::string key = browse_row_key(row);
        const std::string state = browse_row_json(row, "");
        auto seen = printed.shown.find(key);
        if (seen != printed.shown.end() && seen->second == state) continue;
        const char* event = seen == printed.shown.end() ? "new" : "changed";
        printed.shown[key] = state;
        const std::string line = as_json ? browse_row_json(row, event) : browse_row_line(row, event);
        std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
}

}  // namespace

int run_browse(int argc, char** argv)
{
    ResponderOptions options;
    long long seconds = -1;
    bool as_json = false;
    bool with_responder = false;
    for (int i = 2; i < argc; i++) {
        const std::string arg = argv[i];
        int taken = take_responder_option("browse", argc, argv, i, options);
        if (taken == 0) taken = take_seconds_option("browse", argc, argv, i, seconds);
        if (taken < 0) return -taken;
        if (taken > 0) continue;
        if (arg == "--json") {
            as_json = true;
        } else if (arg == "--with-responder") {
            with_responder = true;
        } else if (arg == "--help" || arg == "-h") {
            print_usage("browse", stdout);
            return exit_ok;
        } else {
            return usage_error("browse", "unknown option '" + arg + "'");
        }
    }
    if (options.responder_only && !with_responder)
        return usage_error("browse", "--hostname, --addr, --port and --service need --with-responder");

    install_stop_handler();
    const long long started = now_ms();
    if (with_responder) {
        if (int status = start_responder(options); status != exit_ok) return status;
    } else {
        take_unused_host_label();
    }
    if (mdns_browse_start() != MDNS_OK) {
        int status = library_failure("cannot start the browser");
        mdns_stop();
        return status;
    }

    if (!as_json) {
        std::printf("tandrelo-mdns %s browsing%s (%s)\n", mdns_version(),
                    with_responder ? " beside its responder" : "",
                    seconds >= 0 ? ("for " + std::to_string(seconds) + " s").c_str() : "Ctrl-C stops");
        if (with_responder) {
            JsonValue stats;
            if (parse_json(mdns_stats(), stats, nullptr)) print_announcement(stats);
        }
        std::printf("%s\n", browse_table_header().c_str());
        std::fflush(stdout);
    }

    Printed printed;
    const long long deadline = seconds >= 0 ? started + seconds * 1000 : -1;
    for (;;) {
        const bool ending = stop_requested() || (deadline >= 0 && now_ms() >= deadline);
        print_changes(as_json, printed);
        if (ending) break;
        long long wait = poll_interval_ms;
        if (deadline >= 0 && deadline - now_ms() < wait) wait = deadline - now_ms();
        pause_ms(wait);
    }
    mdns_browse_stop();
    if (with_responder) mdns_stop();
    if (!as_json)
        std::printf("stopped: %d service%s, %d other service type%s, %d other host%s\n", printed.services,
                    printed.services == 1 ? "" : "s", printed.types, printed.types == 1 ? "" : "s",
                    printed.hosts, printed.hosts == 1 ? "" : "s");
    return exit_ok;
}

}  // namespace tool
