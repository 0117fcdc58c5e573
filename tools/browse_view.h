// The browse cache, as the library reports it (one entry per owner name and
// record type), regrouped for people: one row per service instance with its
// host, address, port and TXT, and rows for service types and hosts that no
// instance accounts for; and the row's printed forms.
#pragma once

#include <string>
#include <vector>

#include "tool.h"

namespace tool {

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
    bool has_srv = false;  // service: its SRV and TXT records are cached
    bool has_txt = false;

    // Host, port and address known.
    bool resolved() const { return kind != Kind::service || (has_srv && !address.empty()); }
    // Everything a service row shows is known.
    bool complete() const { return resolved() && (kind != Kind::service || has_txt); }
};

// Rows in the order in which their first record entered the cache.
std::vector<BrowseRow> browse_rows(const Json& report);

// Identity of a row across reports (its kind and name, letter case ignored).
std::string browse_row_key(const BrowseRow& row);
// The keys of the rows that the row accounts for: its own, and for an
// instance the keys its type and its host would have as rows of their own.
std::vector<std::string> browse_row_covers(const BrowseRow& row);
// One JSON object, without line end; event is "new", "changed" or "removed".
std::string browse_row_json(const BrowseRow& row, const char* event);
// One ';'-separated line, without line end: EVENT;IPv4;INSTANCE;TYPE;local;
// HOST;ADDRESS;PORT;TXT, EVENT '+' new, '=' changed, '-' removed, TXT its
// strings quoted and separated by spaces. ';' and '\' inside a field, and
// control characters, are written as \DDD (decimal).
std::string browse_row_parsable(const BrowseRow& row, const char* event);

// The table: columns as wide as their content (up to a bound), taken from the
// rows it prints first (a streaming table takes at least the usual widths);
// a longer value later is cut with "~" so that it never moves the columns
// after it.
class BrowseTable {
public:
    // Fixes the widths from these rows if not done yet, and returns the
    // header line then (once), else "".
    std::string header_for(const std::vector<BrowseRow>& rows, bool streaming);
    std::string line(const BrowseRow& row, const char* event) const;

private:
    std::vector<std::size_t> widths_;
};

}  // namespace tool
