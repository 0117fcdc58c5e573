// Regrouping of the browse report into rows, and their two printed forms.
#include "browse_view.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "tool.h"

namespace tool {
namespace {

const char* const enumeration_name = "_services._dns-sd._udp.local";

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
bool points_to_instance(const Json& entry)
{
    const std::string owner = json_str(entry, "name");
    return json_int(entry, "rrtype") == rr_ptr && owner.compare(0, 1, "_") == 0 &&
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

std::vector<BrowseRow> browse_rows(const Json& report)
{
    // First the facts, by folded name; then the rows, in cache order.
    std::map<std::string, const Json*> address_of;   // host -> A entry
    std::map<std::string, const Json*> srv_of;       // instance -> SRV entry
    std::map<std::string, const Json*> txt_of;       // instance -> TXT entry
    std::map<std::string, std::string> type_of_instance;  // instance -> type named by a PTR
    if (!report.is_array()) return {};
    for (const Json& e : report) {
        const std::string name = folded(json_str(e, "name"));
        const long long rrtype = json_int(e, "rrtype");
        if (rrtype == rr_a) address_of[name] = &e;
        if (rrtype == rr_srv) srv_of[name] = &e;
        if (rrtype == rr_txt) txt_of[name] = &e;
        if (points_to_instance(e)) type_of_instance[folded(json_str(e, "target"))] = service_type(json_str(e, "name"));
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
        if (const Json* srv = srv_of.count(key) ? srv_of[key] : nullptr) {
            row.has_srv = true;
            row.host = json_str(*srv, "target");
            row.port = json_int(*srv, "port");
            row.from = json_str(*srv, "from");
            const std::string host = folded(row.host);
            if (address_of.count(host)) row.address = json_str(*address_of[host], "ip");
            hosted[host] = true;
        }
        if (const Json* txt = txt_of.count(key) ? txt_of[key] : nullptr) {
            row.has_txt = true;
            row.txt = json_str(*txt, "txt");
            if (row.from.empty()) row.from = json_str(*txt, "from");
        }
        typed[folded(row.type)] = true;
        if (!listed[browse_row_key(row)]) rows.push_back(row);
        listed[browse_row_key(row)] = true;
    };
    for (const Json& e : report) {
        const long long rrtype = json_int(e, "rrtype");
        if (rrtype == rr_srv || rrtype == rr_txt) add_service(json_str(e, "name"));
        if (points_to_instance(e)) add_service(json_str(e, "target"));
    }

    // Types and hosts that no instance row accounts for, still in cache order.
    for (const Json& e : report) {
        const long long rrtype = json_int(e, "rrtype");
        BrowseRow row;
        if (rrtype == rr_ptr && folded(json_str(e, "name")) == enumeration_name) {
            row.kind = BrowseRow::Kind::type;
            row.type = without_local(json_str(e, "target"));
            if (typed[folded(row.type)]) continue;
        } else if (rrtype == rr_a) {
            row.kind = BrowseRow::Kind::host;
            row.host = json_str(e, "name");
            row.address = json_str(e, "ip");
            row.from = json_str(e, "from");
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

std::vector<std::string> browse_row_covers(const BrowseRow& row)
{
    std::vector<std::string> keys{browse_row_key(row)};
    if (row.kind == BrowseRow::Kind::service) {
        BrowseRow type;
        type.kind = BrowseRow::Kind::type;
        type.type = row.type;
        keys.push_back(browse_row_key(type));
        if (!row.host.empty()) {
            BrowseRow host;
            host.kind = BrowseRow::Kind::host;
            host.host = row.host;
            keys.push_back(browse_row_key(host));
        }
    }
    return keys;
}

std::string browse_row_json(const BrowseRow& row, const char* event)
{
    Json out;
    out["event"] = event;
    switch (row.kind) {
    case BrowseRow::Kind::service:
        out["kind"] = "service";
        out["name"] = row.name;
        out["instance"] = row.instance;
        out["type"] = row.type;
        out["host"] = row.host;
        out["address"] = row.address;
        out["port"] = row.port;
        out["txt"] = row.txt;
        out["from"] = row.from;
        break;
    case BrowseRow::Kind::type:
        out["kind"] = "type";
        out["type"] = row.type;
        break;
    case BrowseRow::Kind::host:
        out["kind"] = "host";
        out["host"] = row.host;
        out["address"] = row.address;
        out["from"] = row.from;
        break;
    }
    // Names heard from the network that are not UTF-8 were replaced on
    // reading; replace again rather than fail, whatever comes.
    return out.dump(-1, ' ', false, Json::error_handler_t::replace);
}

namespace {

// ';' separates the fields and '\' starts an escape, so inside a field both
// are written as \DDD, as are control characters.
std::string parsable_field(const std::string& text)
{
    std::string out;
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == ';' || c == '\\' || u < 0x20 || u == 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\%03u", u);
            out += escape;
        } else {
            out += c;
        }
    }
    return out;
}

// The library joins a TXT record's strings with ';'; here each is quoted.
std::string parsable_txt(const std::string& txt)
{
    std::string out;
    std::size_t start = 0;
    while (!txt.empty() && start <= txt.size()) {
        std::size_t end = txt.find(';', start);
        if (end == std::string::npos) end = txt.size();
        std::string item = txt.substr(start, end - start);
        std::string quoted;
        for (char c : item) quoted += c == '"' ? std::string("\\034") : parsable_field(std::string(1, c));
        out += (out.empty() ? "\"" : " \"") + quoted + "\"";
        start = end + 1;
    }
    return out;
}

// Display width: UTF-8 continuation bytes take no column.
std::size_t columns_of(const std::string& text)
{
    std::size_t n = 0;
    for (char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) n++;
    return n;
}

// The first width columns of text, the last one "~" when it was cut.
std::string fitted(const std::string& text, std::size_t width)
{
    if (columns_of(text) <= width) return text + std::string(width - columns_of(text), ' ');
    std::string out;
    std::size_t n = 0;
    for (char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80 && ++n == width) break;
        out += c;
    }
    return out + "~";
}

const char* const column_titles[] = {"SEEN", "INSTANCE", "TYPE", "HOST", "ADDRESS", "PORT", "TXT"};
// The widest a column grows; TXT, the last, is never cut. A table that
// streams takes at least the usual widths, since later rows may be wider
// than its first.
const std::size_t column_bounds[] = {7, 32, 24, 32, 15, 5, 0};
const std::size_t column_usual[] = {7, 16, 12, 16, 15, 5, 0};
constexpr std::size_t column_count = 7;

std::vector<std::string> table_cells(const BrowseRow& row, const char* event)
{
    const bool service = row.kind == BrowseRow::Kind::service;
    return {event,
            service ? or_dash(row.instance) : "-",
            or_dash(row.type),
            or_dash(row.host),
            or_dash(row.address),
            service && row.port > 0 ? std::to_string(row.port) : "-",
            service ? or_dash(row.txt) : row.kind == BrowseRow::Kind::type ? "(service type)" : "(host)"};
}

}  // namespace

std::string browse_row_parsable(const BrowseRow& row, const char* event)
{
    const std::string mark = std::string(event) == "new" ? "+" : std::string(event) == "removed" ? "-" : "=";
    const bool service = row.kind == BrowseRow::Kind::service;
    return mark + ";IPv4;" + parsable_field(service ? row.instance : "") + ";" + parsable_field(row.type) +
           ";local;" + parsable_field(row.host) + ";" + parsable_field(row.address) + ";" +
           (service && row.port > 0 ? std::to_string(row.port) : "") + ";" + (service ? parsable_txt(row.txt) : "");
}

std::string BrowseTable::header_for(const std::vector<BrowseRow>& rows, bool streaming)
{
    if (!widths_.empty()) return "";
    for (std::size_t i = 0; i < column_count; i++)
        widths_.push_back(std::max(columns_of(column_titles[i]), streaming ? column_usual[i] : 0));
    for (const BrowseRow& row : rows) {
        const std::vector<std::string> cells = table_cells(row, "changed");
        for (std::size_t i = 0; i + 1 < column_count; i++)
            widths_[i] = std::max(widths_[i], std::min(columns_of(cells[i]), column_bounds[i]));
    }
    std::string out;
    for (std::size_t i = 0; i + 1 < column_count; i++) out += fitted(column_titles[i], widths_[i]) + "  ";
    return out + column_titles[column_count - 1];
}

std::string BrowseTable::line(const BrowseRow& row, const char* event) const
{
    const std::vector<std::string> cells = table_cells(row, event);
    std::string out;
    for (std::size_t i = 0; i + 1 < column_count; i++) out += fitted(cells[i], widths_[i]) + "  ";
    return out + cells[column_count - 1];
}

}  // namespace tool
