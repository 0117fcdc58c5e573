// The browse cache, as the library reports it (one entry per owner name and
// record type), regrouped for people: one row per service instance with its
// host, address, port and TXT, and rows for service types and hosts that no
// instance accounts for.
#pragma once

#include <string>
#include <vector>

namespace tool {

struct JsonValue;

struct BrowseRow {
    enum class Kind { service, type, host };
    Kind kind = Kind::service;
    std::string name;      // service: full instance name ("Web._http._tcp.local")
    std::string instance;  // service: the instance label ("Web")
    std::string type;      // service and type rows: "_http._tcp"
    std::string host;      // service: SRV target; host: the A record's name
    std::string address;   // the host's address, from its A record
    long long port = 0;    // service: SRV port, 0 until an SRV record is heard
    std::string txt;       // service: TXT strings joined with ';' as reported
    std::string from;      // address of the host that sent the latest record
};

// Rows in the order in which their first record entered the cache.
std::vector<BrowseRow> browse_rows(const JsonValue& report);

// Identity of a row across reports (its kind and name, letter case ignored).
std::string browse_row_key(const BrowseRow& row);
// One JSON object, without line end; event is "new" or "changed".
std::string browse_row_json(const BrowseRow& row, const char* event);
// One table line, without line end, and the table's header line.
std::string browse_row_line(const BrowseRow& row, const char* event);
std::string browse_table_header();

}  // namespace tool
