// The responder options of announce and browse --with-responder, the TXT
// attributes of --service, and the start of the responder.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "json_reader.h"
#include "tandrelo_mdns.h"
#include "tool.h"

namespace tool {
namespace {

// Bounds of the library's TXT conversion, which cuts or silently drops what
// passes them; the tool refuses such attributes instead.
constexpr std::size_t txt_key_max = 127;
constexpr std::size_t txt_value_max = 191;
constexpr std::size_t txt_pair_max = 255;
constexpr std::size_t txt_total_max = 1023;

// The library reads its attribute text without escapes, so a double quote
// ends a key or value wherever it stands; and its status report shows that
// text as it is, where a backslash would start an escape.
bool carries_quote_or_backslash(const std::string& text)
{
    return text.find_first_of("\"\\") != std::string::npos;
}

// Appends one attribute to the flat JSON object text that mdns_add_service
// takes; value_json is the value as it goes into the text (quoted or bare).
bool append_attribute(const std::string& key, const std::string& value, const std::string& value_json,
                      std::string& json, std::size_t& wire_total, std::string& error)
{
    if (key.empty()) {
        error = "a TXT attribute needs a KEY before '='";
        return false;
    }
    if (carries_quote_or_backslash(key) || carries_quote_or_backslash(value)) {
        error = "TXT attribute '" + key + "' contains a double quote or a backslash, which cannot be carried";
        return false;
    }
    if (key.size() > txt_key_max || value.size() > txt_value_max ||
        key.size() + 1 + value.size() > txt_pair_max) {
        error = "TXT attribute '" + key + "' is too long (KEY up to 127 bytes, VALUE up to 191, "
                "KEY=VALUE up to 255)";
        return false;
    }
    wire_total += 1 + key.size() + 1 + value.size();
    if (wire_total > txt_total_max) {
        error = "the TXT attributes of a service take more than 1023 bytes";
        return false;
    }
    json += json.size() > 1 ? ",\"" : "\"";
    json += key + "\":" + value_json;
    return true;
}

// KEY=VALUE words into a JSON object text.
bool txt_from_words(const std::vector<std::string>& words, std::string& json, std::string& error)
{
    json = "{";
    std::size_t wire_total = 0;
    for (const std::string& word : words) {
        std::size_t eq = word.find('=');
        if (eq == std::string::npos) {
            error = "TXT attribute '" + word + "' is not KEY=VALUE";
            return false;
        }
        std::string value = word.substr(eq + 1);
        if (!append_attribute(word.substr(0, eq), value, '"' + value + '"', json, wire_total, error))
            return false;
    }
    json += '}';
    return true;
}

// A JSON object given by the user (a text that begins with '{'), rewritten
// without escapes, which the library does not read, as a flat object of
// strings and bare values.
bool txt_from_json(const std::string& text, std::string& json, std::string& error)
{
    JsonValue object;
    std::string why;
    if (!parse_json(text.c_str(), object, &why)) {
        error = "TXT attributes '" + text + "' are not valid JSON: " + why;
        return false;
    }
    json = "{";
    std::size_t wire_total = 0;
    for (const auto& member : object.members) {
        const JsonValue& v = member.second;
        std::string value;
        std::string value_json;
        switch (v.kind) {
        case JsonValue::Kind::string: value = v.text; value_json = '"' + v.text + '"'; break;
        case JsonValue::Kind::number: value = value_json = v.text; break;
        case JsonValue::Kind::boolean: value = value_json = v.boolean ? "true" : "false"; break;
        case JsonValue::Kind::null: value = value_json = "null"; break;
        default:
            error = "TXT attribute '" + member.first + "' must be a string, number, true, false or null";
            return false;
        }
        if (!append_attribute(member.first, value, value_json, json, wire_total, error)) return false;
    }
    json += '}';
    return true;
}

// The status report inserts names without escapes; a double quote or a
// backslash in one would make the report unreadable for this tool.
bool plain_name(const std::string& command, const char* what, const std::string& text, int& status)
{
    if (text.find_first_of("\"\\") == std::string::npos) return true;
    status = usage_error(command, std::string(what) + " '" + text +
                                      "' contains a double quote or a backslash, which this tool"
                                      " cannot show");
    return false;
}

}  // namespace

int take_responder_option(const std::string& command, int argc, char** argv, int& i,
                          ResponderOptions& options)
{
    const std::string arg = argv[i];
    auto missing = [&](const char* what) { return -usage_error(command, arg + " needs " + what); };
    int status = exit_ok;

    if (arg == "--hostname") {
        if (i + 1 >= argc) return missing("a LABEL");
        const std::string label = argv[++i];
        if (!plain_name(command, "host label", label, status)) return -status;
        if (mdns_set_hostname(label.c_str()) != MDNS_OK) return -usage_error(command, mdns_last_error());
        options.responder_only = true;
        return 1;
    }
    if (arg == "--addr") {
        if (i + 1 >= argc || argv[i + 1][0] == '\0') return missing("an IPV4 address or 'auto'");
        const std::string value = argv[++i];
        options.addr_given = value != "auto";
        if (options.addr_given && mdns_set_addr(value.c_str()) != MDNS_OK)
            return -usage_error(command, mdns_last_error());
        options.responder_only = true;
        return 1;
    }
    if (arg == "--interface") {
        if (i + 1 >= argc || argv[i + 1][0] == '\0') return missing("an IPV4 address");
        if (mdns_set_interface(argv[++i]) != MDNS_OK) return -usage_error(command, mdns_last_error());
        return 1;
    }
    if (arg == "--port") {
        if (i + 1 >= argc) return missing("a PORT");
        long long port = 0;
        if (!parse_integer(argv[++i], 1, 65535, port))
            return -usage_error(command, std::string("--port needs a number from 1 to 65535, not '") +
                                             argv[i] + "'");
        options.port = static_cast<int>(port);
        options.responder_only = true;
        return 1;
    }
    if (arg == "--service") {
        if (i + 3 >= argc) return missing("TYPE NAME PORT");
        const std::string type = argv[i + 1];
        const std::string name = argv[i + 2];
        long long port = 0;
        // Any whole number goes to the library, whose message judges its range.
        if (!parse_integer(argv[i + 3], -2147483647LL - 1, 2147483647LL, port))
            return -usage_error(command, std::string("the PORT of --service is not a number: '") +
                                             argv[i + 3] + "'");
        i += 3;
        if (!plain_name(command, "service type", type, status) ||
            !plain_name(command, "service name", name, status))
            return -status;
        std::vector<std::string> words;
        while (i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0) words.push_back(argv[++i]);
        std::string txt;
        std::string error;
        bool read = words.size() == 1 && words[0].compare(0, 1, "{") == 0
                        ? txt_from_json(words[0], txt, error)
                        : txt_from_words(words, txt, error);
        if (!read) return -usage_error(command, error);
        if (mdns_add_service(type.c_str(), name.c_str(), static_cast<int32_t>(port), txt.c_str()) < 0)
            return -usage_error(command, mdns_last_error());
        options.responder_only = true;
        return 1;
    }
    return 0;
}

int start_responder(const ResponderOptions& options)
{
    if (!options.addr_given) {
        // The detection leaves a notice in the last-error text when it falls
        // back to 127.0.0.1.
        const std::string before = mdns_last_error();
        mdns_set_addr("");
        const std::string after = mdns_last_error();
        if (after != before && !after.empty())
            std::fprintf(stderr, "tandrelo-mdns: note: %s\n", after.c_str());
    }
    if (mdns_start(options.port) != MDNS_OK) return library_failure("cannot start the responder");
    return exit_ok;
}

void print_announcement(const JsonValue& stats)
{
    std::printf("  host     %s.local -> %s\n", stats.str("hostname").c_str(), stats.str("addr").c_str());
    const JsonValue* services = stats.get("services");
    if (services != nullptr) {
        for (const JsonValue& s : services->items) {
            std::string txt;
            const JsonValue* t = s.get("txt");
            if (t != nullptr) {
                for (const auto& member : t->members) {
                    txt += txt.empty() ? "  txt " : " ";
                    txt += member.first + '=' + member.second.scalar_text();
                }
            }
            std::printf("  service  %s.%s.local  port %lld%s\n", s.str("name").c_str(),
                        s.str("type").c_str(), s.integer("port"), txt.c_str());
        }
    }
    if (stats.str("addr") == "127.0.0.1")
        std::printf("  note     127.0.0.1 reaches this machine only; --addr IPV4 announces an\n"
                    "           address that other hosts can use\n");
    std::fflush(stdout);
}

}  // namespace tool
