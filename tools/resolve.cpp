// tandrelo-mdns resolve: a host's address, or a service instance's host,
// port, TXT and address, read from the library's browse cache after the
// tool has asked for them.
#include <cstdio>
#include <string>

#include <CLI/CLI.hpp>

#include "browse_view.h"
#include "tandrelo_mdns.h"
#include "tool.h"

namespace tool {
namespace {

constexpr long long give_up_ms = 3000;
constexpr long long ask_again_ms = 1000;
constexpr long long poll_ms = 50;

struct Target {
    std::string name;  // as asked, ending in ".local"
    std::vector<std::string> labels;
    bool instance = false;
};

// "kitchen" and "kitchen.local." both mean kitchen.local; a name whose
// last labels before "local" are _name._tcp or _name._udp is a service
// instance, whose own label may hold dots.
bool read_target(const std::string& given, Target& target, std::string& error)
{
    std::string name = given;
    if (!name.empty() && name.back() == '.') name.pop_back();
    if (!ends_with_folded(name, ".local")) name += ".local";
    target.name = name;
    std::vector<std::string> labels = name_labels(name);
    const std::size_t n = labels.size();
    bool empty_label = false;
    for (const std::string& label : labels) empty_label = empty_label || label.empty();
    if (n >= 4 && valid_service_type(labels[n - 3] + "." + labels[n - 2])) {
        std::string instance = labels[0];
        for (std::size_t i = 1; i + 3 < n; i++) instance += "." + labels[i];
        target.labels = {instance, labels[n - 3], labels[n - 2], labels[n - 1]};
        target.instance = true;
    } else {
        target.labels = labels;
    }
    if (empty_label || !valid_dns_name(target.labels)) {
        error = "NAME '" + (given.size() > 40 ? given.substr(0, 40) + "..." : given) +
                "' is not a name DNS can carry (labels of 1 to 63 bytes, 255 bytes in all)";
        return false;
    }
    return true;
}

std::string address_of(const Json& report, const std::string& host)
{
    if (!report.is_array()) return "";
    for (const Json& e : report)
        if (json_int(e, "rrtype") == rr_a && folded(json_str(e, "name")) == folded(host)) return json_str(e, "ip");
    return "";
}

bool find_instance(const Json& report, const std::string& name, BrowseRow& out)
{
    for (const BrowseRow& row : browse_rows(report)) {
        if (row.kind == BrowseRow::Kind::service && folded(row.name) == folded(name)) {
            out = row;
            return true;
        }
    }
    return false;
}

void print_instance(const BrowseRow& row, bool as_json)
{
    if (as_json) {
        std::printf("%s\n", browse_row_json(row, "resolved").c_str());
        return;
    }
    std::printf("%s\n", printable(row.name).c_str());
    std::printf("  host     %s\n", row.host.empty() ? "-" : printable(row.host).c_str());
    std::printf("  address  %s\n", row.address.empty() ? "-" : row.address.c_str());
    std::printf("  port     %lld\n", row.port);
    std::printf("  txt      %s\n", row.txt.empty() ? "-" : printable(row.txt).c_str());
}

}  // namespace

int run_resolve(int argc, char** argv)
{
    CLI::App app;
    std::string name, adapter;
    bool as_json = false;
    app.add_option("NAME", name);
    app.add_option("-i,--interface", adapter);
    app.add_flag("--json", as_json);
    if (int done = parse_command(app, "resolve", argc, argv, {{"--interface", "an IPV4 address"}}); done >= 0)
        return done;
    if (app.count("NAME") == 0) return usage_error("resolve", "a NAME is needed (NAME.local or INSTANCE._type._tcp.local)");
    Target target;
    std::string error;
    if (!read_target(name, target, error)) return usage_error("resolve", error);
    if (app.count("--interface") > 0 && mdns_set_interface(adapter.c_str()) != MDNS_OK)
        return usage_error("resolve", mdns_last_error());

    install_stop_handler();
    take_unused_host_label();
    if (mdns_browse_start() != MDNS_OK) return library_failure("cannot start the browser");

    const long long started = now_ms();
    long long asked_at = -ask_again_ms;
    bool asked_address = false;
    BrowseRow row;
    bool found = false;
    std::string address;
    while (!stop_requested()) {
        const long long now = now_ms();
        Json report;
        read_report(mdns_browse_results(), report, nullptr);
        if (target.instance) {
            found = find_instance(report, target.name, row) && row.has_srv;
            if (found && row.has_txt && !row.address.empty()) break;
        } else {
            address = address_of(report, target.name);
            if (!address.empty()) break;
        }
        if (now - started >= give_up_ms) break;
        std::vector<Question> questions;
        if (now - asked_at >= ask_again_ms) {
            questions.push_back(Question{target.labels, target.instance ? rr_any : rr_a});
            asked_at = now;
        }
        // The address of the instance's host, once the SRV record named it.
        if (found && row.address.empty() && !row.host.empty() && !asked_address) {
            questions.push_back(Question{name_labels(row.host), rr_a});
            asked_address = true;
        }
        if (!questions.empty() && !send_questions(questions, adapter, &error)) {
            mdns_browse_stop();
            std::fprintf(stderr, "tandrelo-mdns: cannot ask for %s: %s\n", target.name.c_str(), error.c_str());
            return exit_failure;
        }
        pause_ms(poll_ms);
    }
    mdns_browse_stop();

    if (target.instance && found) {
        print_instance(row, as_json);
        return exit_ok;
    }
    if (!target.instance && !address.empty()) {
        if (as_json) {
            Json out;
            out["name"] = target.name;
            out["address"] = address;
            std::printf("%s\n", out.dump(-1, ' ', false, Json::error_handler_t::replace).c_str());
        } else {
            std::printf("%s\t%s\n", printable(target.name).c_str(), address.c_str());
        }
        return exit_ok;
    }
    std::fprintf(stderr, "tandrelo-mdns: no answer for %s within %lld s\n", printable(target.name).c_str(),
                 give_up_ms / 1000);
    return exit_failure;
}

}  // namespace tool
