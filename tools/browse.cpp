// tandrelo-mdns browse: runs the browser and prints each service instance,
// service type and host as it appears, changes or leaves the browse cache.
// The library asks for the types, instances and addresses it hears of; the
// tool only asks for a TYPE given on the command line that nothing on the
// link has named yet.
#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <string>

#include <CLI/CLI.hpp>

#include "browse_view.h"
#include "tandrelo_mdns.h"
#include "tool.h"

namespace tool {
namespace {

constexpr long long poll_interval_ms = 250;
// An instance whose records are not all in yet waits this long for them
// before it is printed with what is known.
constexpr long long hold_ms = 1000;
// --terminate: nothing new for settle_ms, or terminate_max_ms in all.
constexpr long long settle_ms = 1000;
constexpr long long terminate_max_ms = 5000;
// A question goes out again after this long while its answer is missing,
// at most ask_tries times in all.
constexpr long long ask_again_ms = 1000;
constexpr int ask_tries = 2;

enum class Format { table, parsable, json };

struct Settings {
    std::string type;  // folded "_http._tcp", or "" for every type
    std::string type_as_given;  // "_http._tcp" as the user wrote it
    bool resolve_only = false;
    bool terminate = false;
    Format format = Format::table;
    std::string adapter;
};

// The questions already sent, so that each goes out at most ask_tries times.
class Asker {
public:
    explicit Asker(const std::string& adapter) : adapter_(adapter) {}

    void want(const std::vector<std::string>& labels, std::uint16_t type, long long now)
    {
        std::string key = std::to_string(type);
        for (const std::string& label : labels) key += "." + folded(label);
        Sent& sent = sent_[key];
        if (sent.tries >= ask_tries || (sent.tries > 0 && now - sent.at < ask_again_ms)) return;
        sent.tries++;
        sent.at = now;
        pending_.push_back(Question{labels, type});
    }

    void flush()
    {
        if (pending_.empty()) return;
        std::string error;
        if (!send_questions(pending_, adapter_, &error) && !told_) {
            std::fprintf(stderr, "tandrelo-mdns: note: cannot ask for missing records: %s\n", error.c_str());
            told_ = true;
        }
        pending_.clear();
    }

private:
    struct Sent {
        int tries = 0;
        long long at = 0;
    };
    std::string adapter_;
    std::map<std::string, Sent> sent_;
    std::vector<Question> pending_;
    bool told_ = false;
};

std::vector<std::string> type_labels(const std::string& type)
{
    std::vector<std::string> labels = name_labels(type);
    labels.push_back("local");
    return labels;
}

// What was printed for a row, and since when the row has waited.
struct Shown {
    BrowseRow row;
    std::string state;  // its JSON form when last printed
};

class Printer {
public:
    Printer(const Settings& settings) : settings_(settings) {}

    // Reads the report, prints what is new, changed or gone, and asks for
    // what is missing. Returns true when anything was printed or is waiting.
    bool update(long long now, bool final, Asker& asker)
    {
        Json report;
        std::string why;
        if (!read_report(mdns_browse_results(), report, &why)) {
            if (!told_) std::fprintf(stderr, "tandrelo-mdns: the browse report could not be read (%s)\n", why.c_str());
            told_ = true;
            return false;
        }
        // Something new: a record or a value, not a repeat of a known one.
        Json facts = report;
        if (facts.is_array())
            for (Json& entry : facts)
                if (entry.is_object()) entry.erase("last_seen");
        const std::string text = facts.dump(-1, ' ', false, Json::error_handler_t::replace);
        bool news = text != last_report_;
        last_report_ = text;

        const std::vector<BrowseRow> all = browse_rows(report);
        // The instances of the TYPE asked for, until one is known.
        bool of_type_known = false;
        for (const BrowseRow& row : all)
            of_type_known = of_type_known || (row.kind == BrowseRow::Kind::service && folded(row.type) == settings_.type);
        if (!settings_.type.empty() && !of_type_known) asker.want(type_labels(settings_.type_as_given), rr_ptr, now);
        std::set<std::string> present;
        std::vector<std::pair<BrowseRow, const char*>> out;
        for (const BrowseRow& row : all) {
            for (const std::string& key : browse_row_covers(row)) present.insert(key);
            if (!wanted(row)) continue;
            const std::string key = browse_row_key(row);
            const std::string state = browse_row_json(row, "");
            const auto seen = shown_.find(key);
            if (seen != shown_.end() && seen->second.state == state) continue;
            if (seen == shown_.end()) {
                // A new instance is printed once its records are in, or
                // after hold_ms with what is known; -r waits for its address.
                const long long first = first_seen_.emplace(key, now).first->second;
                if (settings_.resolve_only && !row.resolved()) continue;
                if (!row.complete() && now - first < hold_ms && !final) {
                    news = true;
                    continue;
                }
            }
            out.emplace_back(row, seen == shown_.end() ? "new" : "changed");
            shown_[key] = Shown{row, state};
        }
        for (auto it = shown_.begin(); it != shown_.end();) {
            if (present.count(it->first) != 0) {
                ++it;
                continue;
            }
            out.emplace_back(it->second.row, "removed");
            first_seen_.erase(it->first);
            it = shown_.erase(it);
        }
        for (auto it = first_seen_.begin(); it != first_seen_.end();)
            it = present.count(it->first) == 0 ? first_seen_.erase(it) : std::next(it);
        asker.flush();
        print(out);
        counts(all);
        return news || !out.empty();
    }

    // Prints the table's header if nothing did yet, and the summary.
    void finish()
    {
        if (settings_.format != Format::table) return;
        std::vector<BrowseRow> rows;
        for (const auto& item : held_lines_) rows.push_back(item.first);
        const std::string header = table_.header_for(rows, false);
        if (!header.empty()) std::printf("%s\n", header.c_str());
        for (const auto& item : held_lines_) std::printf("%s\n", table_.line(item.first, item.second).c_str());
        std::printf("stopped: %d service%s, %d other service type%s, %d other host%s\n", services_,
                    services_ == 1 ? "" : "s", types_, types_ == 1 ? "" : "s", hosts_, hosts_ == 1 ? "" : "s");
    }

private:
    bool wanted(const BrowseRow& row) const
    {
        if (settings_.type.empty()) return !settings_.resolve_only || row.kind == BrowseRow::Kind::service;
        return row.kind == BrowseRow::Kind::service && folded(row.type) == settings_.type;
    }

    void print(const std::vector<std::pair<BrowseRow, const char*>>& out)
    {
        if (out.empty()) return;
        if (settings_.format == Format::table && settings_.terminate) {
            // The whole table comes at the end, its columns sized to all of it.
            held_lines_.insert(held_lines_.end(), out.begin(), out.end());
            return;
        }
        if (settings_.format == Format::table) {
            std::vector<BrowseRow> rows;
            for (const auto& item : out) rows.push_back(item.first);
            const std::string header = table_.header_for(rows, true);
            if (!header.empty()) std::printf("%s\n", header.c_str());
        }
        for (const auto& item : out) {
            const std::string line = settings_.format == Format::json       ? browse_row_json(item.first, item.second)
                                     : settings_.format == Format::parsable ? browse_row_parsable(item.first, item.second)
                                                                            : table_.line(item.first, item.second);
            std::printf("%s\n", line.c_str());
        }
        std::fflush(stdout);
    }

    void counts(const std::vector<BrowseRow>& rows)
    {
        services_ = types_ = hosts_ = 0;
        for (const BrowseRow& row : rows) {
            if (!wanted(row)) continue;
            if (row.kind == BrowseRow::Kind::service) services_++;
            if (row.kind == BrowseRow::Kind::type) types_++;
            if (row.kind == BrowseRow::Kind::host) hosts_++;
        }
    }

    Settings settings_;
    BrowseTable table_;
    std::map<std::string, Shown> shown_;
    std::map<std::string, long long> first_seen_;
    std::vector<std::pair<BrowseRow, const char*>> held_lines_;
    std::string last_report_;
    bool told_ = false;
    int services_ = 0, types_ = 0, hosts_ = 0;
};

}  // namespace

void take_unused_host_label()
{
    std::random_device device;
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    std::mt19937 mix(device() ^ static_cast<unsigned>(now));
    char label[32];
    std::snprintf(label, sizeof label, "browse-%08x", static_cast<unsigned>(mix()));
    mdns_set_hostname(label);
}

int run_browse(int argc, char** argv)
{
    CLI::App app;
    ResponderArgs args;
    std::string seconds_text;
    std::string type;
    bool all = false, resolve = false, terminate = false, parsable = false, as_json = false;
    bool with_responder = false;
    add_responder_options(app, args);
    app.add_option("-s,--seconds", seconds_text);
    app.add_option("TYPE", type);
    app.add_flag("--all", all);
    app.add_flag("-r,--resolve", resolve);
    app.add_flag("-t,--terminate", terminate);
    app.add_flag("-p,--parsable", parsable);
    app.add_flag("--json", as_json);
    app.add_flag("--with-responder", with_responder);
    if (int done = parse_command(app, "browse", argc, argv, responder_option_needs()); done >= 0) return done;

    Settings settings;
    std::string bare;
    if (app.count("TYPE") > 0) {
        if (all) return usage_error("browse", "give a TYPE or --all, not both");
        bare = type;
        if (!bare.empty() && bare.back() == '.') bare.pop_back();
        if (ends_with_folded(bare, ".local")) bare.resize(bare.size() - 6);
        if (!valid_service_type(bare))
            return usage_error("browse", "TYPE '" + (type.size() > 40 ? type.substr(0, 40) + "..." : type) +
                                             "' is not of the form _name._tcp or _name._udp (such as _http._tcp)");
        settings.type = folded(bare);
        settings.type_as_given = bare;
    }
    if (parsable && as_json) return usage_error("browse", "give --parsable or --json, not both");
    settings.resolve_only = resolve;
    settings.terminate = terminate;
    settings.format = as_json ? Format::json : parsable ? Format::parsable : Format::table;
    settings.adapter = args.adapter;
    long long seconds = -1;
    ResponderOptions options;
    if (int status = read_seconds("browse", seconds_text, app.count("--seconds") > 0, seconds); status != exit_ok)
        return status;
    if (int status = apply_responder_options("browse", app, args, options); status != exit_ok) return status;
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

    Asker asker(settings.adapter);
    if (settings.format == Format::table) {
        std::string until = seconds >= 0 ? "for " + std::to_string(seconds) + " s" : "Ctrl-C stops";
        if (terminate) until = "until the answers settle";
        std::printf("tandrelo-mdns %s browsing %s%s (%s)\n", mdns_version(),
                    settings.type.empty() ? "all types" : bare.c_str(), with_responder ? " beside its responder" : "",
                    until.c_str());
        if (with_responder) {
            Json stats;
            if (read_report(mdns_stats(), stats, nullptr)) print_announcement(stats);
        }
        std::fflush(stdout);
    }

    Printer printer(settings);
    long long deadline = seconds >= 0 ? started + seconds * 1000 : -1;
    if (terminate && (deadline < 0 || deadline > started + terminate_max_ms)) deadline = started + terminate_max_ms;
    long long last_news = started;
    for (;;) {
        const long long now = now_ms();
        bool ending = stop_requested() || (deadline >= 0 && now >= deadline) ||
                      (terminate && now - last_news >= settle_ms);
        if (printer.update(now, ending, asker)) last_news = now;
        if (ending) break;
        long long wait = poll_interval_ms;
        if (deadline >= 0 && deadline - now_ms() < wait) wait = deadline - now_ms();
        pause_ms(wait);
    }
    mdns_browse_stop();
    if (with_responder) mdns_stop();
    printer.finish();
    return exit_ok;
}

}  // namespace tool
