// The responder options of announce and browse --with-responder, the TXT
// attributes of --service, and the start of the responder.
#include <cstdio>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

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
    Json object;
    try {
        object = Json::parse(text);
    } catch (const Json::exception& e) {
        std::string why = e.what();
        // "[json.exception.parse_error.101] parse error at ...": the part a user reads.
        const std::size_t bracket = why.find("] ");
        if (why.compare(0, 1, "[") == 0 && bracket != std::string::npos) why = why.substr(bracket + 2);
        error = "TXT attributes '" + text + "' are not valid JSON: " + why;
        return false;
    }
    if (!object.is_object()) {
        error = "TXT attributes '" + text + "' are not a JSON object";
        return false;
    }
    json = "{";
    std::size_t wire_total = 0;
    for (const auto& member : object.items()) {
        const Json& v = member.value();
        std::string value;
        std::string value_json;
        if (v.is_string()) {
            value = v.get<std::string>();
            value_json = '"' + value + '"';
        } else if (v.is_number() || v.is_boolean() || v.is_null()) {
            value = value_json = v.dump();
        } else {
            error = "TXT attribute '" + member.key() + "' must be a string, number, true, false or null";
            return false;
        }
        if (!append_attribute(member.key(), value, value_json, json, wire_total, error)) return false;
    }
    json += '}';
    return true;
}

// The longest label DNS allows: a service instance name is one label.
constexpr std::size_t label_max = 63;

// "kitchen.local" (and "kitchen.local.") name the label "kitchen".
std::string without_local_suffix(std::string name)
{
    if (!name.empty() && name.back() == '.') name.pop_back();
    if (name.size() > 6 && ends_with_folded(name, ".local")) name.resize(name.size() - 6);
    return name;
}

}  // namespace

void add_responder_options(CLI::App& app, ResponderArgs& args)
{
    app.add_option("-n,--hostname", args.hostname);
    app.add_option("-a,--addr", args.addr);
    app.add_option("-i,--interface", args.adapter);
    app.add_option("--port", args.port);
    // One group of words per --service, taken as each is read, so that an
    // empty TYPE or NAME stays a word of its own.
    app.add_option_function<std::vector<std::string>>(
           "--service", [&args](const std::vector<std::string>& words) { args.services.push_back(words); })
        ->expected(3, CLI::detail::expected_max_vector_size)
        ->trigger_on_parse()
        ->allow_extra_args();
}

std::map<std::string, std::string> responder_option_needs()
{
    return {{"--hostname", "a LABEL"},       {"--addr", "an IPV4 address or 'auto'"},
            {"--interface", "an IPV4 address"}, {"--port", "a PORT"},
            {"--service", "TYPE NAME PORT"},  {"--seconds", "a number N"}};
}

int apply_responder_options(const std::string& command, CLI::App& app, const ResponderArgs& args,
                            ResponderOptions& options)
{
    if (app.count("--hostname") > 0) {
        const std::string label = without_local_suffix(args.hostname);
        if (mdns_set_hostname(label.c_str()) != MDNS_OK) return usage_error(command, mdns_last_error());
        options.responder_only = true;
    }
    if (app.count("--addr") > 0) {
        if (args.addr.empty()) return usage_error(command, "--addr needs an IPV4 address or 'auto'");
        options.addr_given = args.addr != "auto";
        if (options.addr_given && mdns_set_addr(args.addr.c_str()) != MDNS_OK)
            return usage_error(command, mdns_last_error());
        options.responder_only = true;
    }
    if (app.count("--interface") > 0) {
        if (args.adapter.empty()) return usage_error(command, "--interface needs an IPV4 address");
        if (mdns_set_interface(args.adapter.c_str()) != MDNS_OK)
            return usage_error(command, mdns_last_error());
    }
    if (app.count("--port") > 0) {
        long long port = 0;
        if (!parse_integer(args.port, 1, 65535, port))
            return usage_error(command, "--port needs a number from 1 to 65535, not '" + args.port + "'");
        options.port = static_cast<int>(port);
        options.responder_only = true;
    }
    for (const std::vector<std::string>& service : args.services) {
        if (service.size() < 3) return usage_error(command, "--service needs TYPE NAME PORT");
        const std::string& type = service[0];
        const std::string& name = service[1];
        long long port = 0;
        // Any whole number goes to the library, whose message judges its range.
        if (!parse_integer(service[2], -2147483647LL - 1, 2147483647LL, port))
            return usage_error(command, "the PORT of --service is not a number: '" + service[2] + "'");
        // An empty type or name goes to the library, whose message says so.
        if (!type.empty() && !valid_service_type(type))
            return usage_error(command, "service type '" + type +
                                            "' is not of the form _name._tcp or _name._udp (such as _http._tcp)");
        if (name.size() > label_max)
            return usage_error(command, "service name '" + name.substr(0, 20) + "...' is longer than " +
                                            std::to_string(label_max) + " bytes");
        const std::vector<std::string> words(service.begin() + 3, service.end());
        std::string txt;
        std::string error;
        const bool read = words.size() == 1 && words[0].compare(0, 1, "{") == 0
                              ? txt_from_json(words[0], txt, error)
                              : txt_from_words(words, txt, error);
        if (!read) return usage_error(command, error);
        if (mdns_add_service(type.c_str(), name.c_str(), static_cast<int32_t>(port), txt.c_str()) < 0)
            return usage_error(command, mdns_last_error());
        options.responder_only = true;
    }
    return exit_ok;
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

void print_announcement(const Json& stats)
{
    std::printf("  host     %s.local -> %s\n", json_str(stats, "hostname").c_str(),
                json_str(stats, "addr").c_str());
    const auto services = stats.find("services");
    if (services != stats.end() && services->is_array()) {
        for (const Json& s : *services) {
            std::string txt;
            const auto t = s.find("txt");
            if (t != s.end() && t->is_object()) {
                for (const auto& member : t->items()) {
                    txt += txt.empty() ? "  txt " : " ";
                    txt += member.key() + '=' +
                           (member.value().is_string() ? member.value().get<std::string>() : member.value().dump());
                }
            }
            std::printf("  service  %s.%s.local  port %lld%s\n", json_str(s, "name").c_str(),
                        json_str(s, "type").c_str(), json_int(s, "port"), txt.c_str());
        }
    }
    if (json_str(stats, "addr") == "127.0.0.1")
        std::printf("  note     127.0.0.1 reaches this machine only; --addr IPV4 announces an\n"
                    "           address that other hosts can use\n");
    std::fflush(stdout);
}

}  // namespace tool
