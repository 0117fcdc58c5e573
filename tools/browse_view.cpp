// Regrouping of the browse report into rows, and their two printed forms.
#include "browse_view.h"

#include <map>

#include "json_reader.h"
#include "tool.h"

namespace tool {
namespace {

constexpr long long rr_a = 1;
constexpr long long rr_ptr = 12;
constexpr long long rr_txt = 16;
constexpr long long rr_srv = 33;
const char* const enumeration_name = "_services._dns-sd._udp.local";

// DNS names compare without regard to ASCII letter case.
std::string folded(const std::string& text)
{
    std::string out = text;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool ends_with_folded(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() && folded(text.substr(text.size() - suffix.size())) == suffix;
}

std::string without_local(const std::string& name)
{
    return ends_with_folded(name, ".local") ? name.substr(0, name.size() - 6) : name;
}

// Splits "Web One._http._tcp.local" into its instance label and its type,
// given the type when a PTR record named it, else taking the last two labels
// before ".local" as the type.
void split_instance(const std::string& name, const std::string& known_type, BrowseRow& row)
{
    const std::string bare = without_local(name);
    std::string type = known_type;
    if (type.empty()) {
        std::size_t protocol_dot = bare.rfind('.');
        std::size_t service_dot = protocol_dot == std::string::npos || protocol_dot == 0
                                      ? std::string::npos
                                      : bare.rfind('.', protocol_dot - 1);
        if (service_dot != std::string::npos) type = bare.substr(service_dot + 1);
    }
    const std::string suffix = "." + folded(type);
    if (!type.empty() && bare.size() > suffix.size() && ends_with_folded(bare, suffix)) {
        row.type = type;
        row.instance = bare.substr(0, bare.size() - suffix.size());
    } else {
        row.type = type;
        row.instance = bare;
    }
}

// A PTR record from a service type (or a subtype) to an instance; not the
// enumeration's records, and not the address-to-name records of reverse
// lookups, whose owners do not begin with '_'.
bool points_to_instance(const JsonValue& entry)
{
    const std::string owner = entry.str("name");
    return entry.integer("rrtype") == rr_ptr && owner.compare(0, 1, "_") == 0 &&
           folded(owner) != enumeration_name;
}

// "_printer._sub._http._tcp.local" and "_http._tcp.local" both name the type
// "_http._tcp".
std::string service_type(const std::string& ptr_owner)
{
    const std::string type = without_local(ptr_owner);
    const std::size_t sub = folded(type).find("._sub.");
    return sub == std::string::npos ? type : type.substr(sub + 6);
}

std::string or_dash(const std::string& text)
{
    return text.empty() ? "-" : printable(text);
}

}  // namespace

std::vector<BrowseRow> browse_rows(const JsonValue& report)
{
    // First the facts, by folded name; then the rows, in cache order.
    std::map<std::string, const JsonValue*> address_of;   // host -> A entry
    std::map<std::string, const JsonValue*> srv_of;       // instance -> SRV entry
    std::map<std::string, const JsonValue*> txt_of;       // instance -> TXT entry
    std::map<std::string, std::string> type_of_instance;  // instance -> type named by a PTR
    for (const JsonValue& e : report.items) {
        const std::string name = folded(e.str("name"));
        const long long rrtype = e.integer("rrtype");
        if (rrtype == rr_a) address_of[name] = &e;
        if (rrtype == rr_srv) srv_of[name] = &e;
        if (rrtype == rr_txt) txt_of[name] = &e;
        if (points_to_instance(e)) type_of_instance[folded(e.str("target"))] = service_type(e.str("name"));
    }

    std::vector<BrowseRow> rows;
    std::map<std::string, bool> listed;  // row keys already in rows
    std::map<std::string, bool> typed;   // types that have an instance row
    std::map<std::string, bool> hosted;  // hosts that an instance row names
    auto add_service = [&](const std::string& name) {
        BrowseRow row;
        row.name = name;
        const std::string key = folded(name);
        split_instance(name, type_of_instance.count(key) ? type_of_instance[key] : "", row);
        if (const JsonValue* srv = srv_of.count(key) ? srv_of[key] : nullptr) {
            row.host = srv->str("target");
            row.port = srv->integer("port");
            row.from = srv->str("from");
            const std::string host = folded(row.host);
            if (address_of.count(host)) row.address = address_of[host]->str("ip");
            hosted[host] = true;
        }
        if (const JsonValue* txt = txt_of.count(key) ? txt_of[key] : nullptr) {
            row.txt = txt->str("txt");
            if (row.from.empty()) row.from = txt->str("from");
        }
        typed[folded(row.type)] = true;
        if (!listed[browse_row_key(row)]) rows.push_back(row);
        listed[browse_row_key(row)] = true;
    };
    for (const JsonValue& e : report.items) {
        const long long rrtype = e.integer("rrtype");
        if (rrtype == rr_srv || rrtype == rr_txt) add_service(e.str("name"));
        if (points_to_instance(e)) add_service(e.str("target"));
    }

    // Types and hosts that no instance row accounts for, still in cache order.
    for (const JsonValue& e : report.items) {
        const long long rrtype = e.integer("rrtype");
        BrowseRow row;
        if (rrtype == rr_ptr && folded(e.str("name")) == enumeration_name) {
            row.kind = BrowseRow::Kind::type;
            row.type = without_local(e.str("target"));
            if (typed[folded(row.type)]) continue;
        } else if (rrtype == rr_a) {
            row.kind = BrowseRow::Kind::host;
            row.host = e.str("name");
            row.address = e.str("ip");
            row.from = e.str("from");
            if (hosted[folded(row.host)]) continue;
        } else {
            continue;
        }
        if (!listed[browse_row_key(row)]) rows.push_back(row);
        listed[browse_row_key(row)] = true;
    }
    return rows;
}

std::string browse_row_key(const BrowseRow& row)
{
    switch (row.kind) {
    case BrowseRow::Kind::service: return "service " + folded(row.name);
    case BrowseRow::Kind::type: return "type " + folded(row.type);
    default: return "host " + folded(row.host);
    }
}

std::string browse_row_json(const BrowseRow& row, const char* event)
{
    std::string out = "{\"event\":";
    append_json_string(out, event);
    auto field = [&](const char* key, const std::string& value) {
        out += ",\"";
        out += key;
        out += "\":";
        append_json_string(out, value);
    };
    switch (row.kind) {
    case BrowseRow::Kind::service:
        field("kind", "service");
        field("name", row.name);
        field("instance", row.instance);
        field("type", row.type);
        field("host", row.host);
        field("address", row.address);
        out += ",\"port\":" + std::to_string(row.port);
        field("txt", row.txt);
        field("from", row.from);
        break;
    case BrowseRow::Kind::type:
        field("kind", "type");
        field("type", row.type);
        break;
    case BrowseRow::Kind::host:
        field("kind", "host");
        field("host", row.host);
        field("address", row.address);
        field("from", row.from);
        break;
    }
    out += '}';
    return out;
}

std::string browse_table_header()
{
    return browse_row_line(BrowseRow(), nullptr);
}

std::string browse_row_line(const BrowseRow& row, const char* event)
{
    std::string instance = "INSTANCE", type = "TYPE", host = "HOST", address = "ADDRESS", port = "PORT",
                txt = "TXT";
    if (event != nullptr) {
        const bool service = row.kind == BrowseRow::Kind::service;
        instance = service ? or_dash(row.instance) : "-";
        type = or_dash(row.type);
        host = or_dash(row.host);
        address = or_dash(row.address);
        port = service && row.port > 0 ? std::to_string(row.port) : "-";
        txt = service ? or_dash(row.txt) : row.kind == BrowseRow::Kind::type ? "(service type)" : "(host)";
    }
    auto column = [](const std::string& text, std::size_t width) {
        return text.size() < width ? text + std::string(width - text.size(), ' ') : text + ' ';
    };
    return column(event != nullptr ? event : "SEEN", 8) + column(instance, 21) + column(type, 15) +
           column(host, 21) + column(address, 16) + column(port, 6) + txt;
}

}  // namespace tool
