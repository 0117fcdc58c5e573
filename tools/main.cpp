// tandrelo-mdns: the command-line tool. Dispatches to the commands and holds
// the helpers that they share (usage, argument errors, exit codes, Ctrl-C,
// pauses, report reading).
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include <CLI/CLI.hpp>

#include "tandrelo_mdns.h"
#include "tool.h"

namespace tool {
namespace {

std::atomic<int> g_stop{0};

extern "C" void on_stop_signal(int)
{
    g_stop = 1;
}

const char* const usage_head = "usage: tandrelo-mdns COMMAND [OPTIONS]\n";

const char* const usage_announce =
    "  tandrelo-mdns announce [-n|--hostname LABEL] [-a|--addr IPV4|auto] [-i|--interface IPV4]\n"
    "                         [--port PORT] [-s|--seconds N]\n"
    "                         [--service TYPE NAME PORT [KEY=VALUE ...|JSON]] ...\n"
    "      Answers for LABEL.local (default tandrelo.local; LABEL.local is taken as\n"
    "      LABEL) and for each service until Ctrl-C, or for N seconds. The address\n"
    "      is that of the adapter with the gateway unless --addr gives one. TYPE is\n"
    "      _name._tcp or _name._udp; TXT attributes are KEY=VALUE words or one flat\n"
    "      JSON object such as '{\"path\":\"/\"}'.\n";

const char* const usage_browse =
    "  tandrelo-mdns browse [TYPE | --all] [-r|--resolve] [-t|--terminate]\n"
    "                       [-p|--parsable | --json] [-s|--seconds N] [-i|--interface IPV4]\n"
    "                       [--with-responder [announce options]]\n"
    "      Prints the services (only those of TYPE, such as _http._tcp, when given),\n"
    "      hosts and service types that others announce: one line when one appears\n"
    "      with its records, changes, or leaves. -r shows only resolved services\n"
    "      (host, address and port known); -t ends once nothing new came for 1 s\n"
    "      (at most 5 s); -p prints ';'-separated fields, --json one JSON object\n"
    "      per line. --with-responder also announces this host and browses on the\n"
    "      responder's socket.\n";

const char* const usage_resolve =
    "  tandrelo-mdns resolve [--json] [-i|--interface IPV4] NAME.local\n"
    "  tandrelo-mdns resolve [--json] [-i|--interface IPV4] \"INSTANCE._type._tcp.local\"\n"
    "      Asks for a host's address, or for a service instance's host, port, TXT\n"
    "      and address, and prints the answer; exits 1 when none comes within 3 s.\n";

const char* const usage_interfaces =
    "  tandrelo-mdns interfaces [--json]\n"
    "      Lists the usable IPv4 adapters.\n";

// CLI11's word for a missing value names the option first: "--port: 1
// required TEXT missing".
std::string option_of_message(const std::string& message)
{
    const std::size_t colon = message.find(':');
    return colon == std::string::npos ? std::string() : message.substr(0, colon);
}

}  // namespace

void print_usage(const std::string& command, std::FILE* out)
{
    std::fputs(usage_head, out);
    if (command.empty() || command == "announce") std::fputs(usage_announce, out);
    if (command.empty() || command == "browse") std::fputs(usage_browse, out);
    if (command.empty() || command == "resolve") std::fputs(usage_resolve, out);
    if (command.empty() || command == "interfaces") std::fputs(usage_interfaces, out);
    if (command.empty()) std::fputs("  tandrelo-mdns --version\n  tandrelo-mdns --help\n", out);
}

int usage_error(const std::string& command, const std::string& message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "tandrelo-mdns%s%s: %s\n", command.empty() ? "" : " ", command.c_str(),
                 message.c_str());
    print_usage(command, stderr);
    return exit_usage;
}

int library_failure(const std::string& what)
{
    std::fflush(stdout);
    std::fprintf(stderr, "tandrelo-mdns: %s: %s\n", what.c_str(), mdns_last_error());
    return exit_failure;
}

int parse_command(CLI::App& app, const std::string& command, int argc, char** argv,
                  const std::map<std::string, std::string>& needs)
{
    // The usage texts above are the help; CLI11 parses and reports.
    bool help = false;
    bool version = false;
    app.set_help_flag();
    app.add_flag("-h,--help", help);
    app.add_flag("--version", version);
    app.allow_extras();
    std::vector<std::string> args;
    for (int i = argc - 1; i >= 2; i--) args.emplace_back(argv[i]);
    try {
        app.parse(args);
    } catch (const CLI::ArgumentMismatch& e) {
        const std::string option = option_of_message(e.what());
        const auto need = needs.find(option);
        if (need != needs.end()) return usage_error(command, option + " needs " + need->second);
        return usage_error(command, e.what());
    } catch (const CLI::ParseError& e) {
        return usage_error(command, e.what());
    }
    if (help) {
        print_usage(command, stdout);
        return exit_ok;
    }
    if (version) {
        std::printf("tandrelo-mdns %s\n", mdns_version());
        return exit_ok;
    }
    for (const std::string& extra : app.remaining()) {
        if (extra.size() > 1 && extra[0] == '-') return usage_error(command, "unknown option '" + extra + "'");
        return usage_error(command, "unexpected argument '" + extra + "'");
    }
    return -1;
}

void install_stop_handler()
{
    std::signal(SIGINT, on_stop_signal);
    std::signal(SIGTERM, on_stop_signal);
}

bool stop_requested()
{
    return g_stop != 0;
}

void pause_ms(long long milliseconds)
{
    // Short steps, so that Ctrl-C ends a pause quickly.
    while (milliseconds > 0 && !stop_requested()) {
        long long step = milliseconds < 50 ? milliseconds : 50;
        std::this_thread::sleep_for(std::chrono::milliseconds(step));
        milliseconds -= step;
    }
}

long long now_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool parse_integer(const std::string& text, long long low, long long high, long long& out)
{
    if (text.empty() || text.size() > 20) return false;
    errno = 0;
    char* end = nullptr;
    long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == nullptr || *end != '\0' || value < low || value > high) return false;
    out = value;
    return true;
}

int read_seconds(const std::string& command, const std::string& text, bool given, long long& seconds)
{
    seconds = -1;
    if (!given) return exit_ok;
    if (!parse_integer(text, 0, 100000000, seconds))
        return usage_error(command, "--seconds needs a whole number of seconds, not '" + text + "'");
    return exit_ok;
}

std::string printable(const std::string& text)
{
    std::string out = text;
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return out;
}

std::string folded(const std::string& text)
{
    std::string out = text;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool ends_with_folded(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() && folded(text.substr(text.size() - suffix.size())) == folded(suffix);
}

bool valid_service_type(const std::string& type)
{
    const std::size_t dot = type.find('.');
    if (dot == std::string::npos || dot < 2 || dot > 16 || type[0] != '_') return false;
    for (std::size_t i = 1; i < dot; i++) {
        const char c = type[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-'))
            return false;
    }
    const std::string protocol = folded(type.substr(dot));
    return protocol == "._tcp" || protocol == "._udp";
}

bool read_report(const char* text, Json& out, std::string* why)
{
    // Well-formed UTF-8 passes as it is; every other byte becomes U+FFFD.
    std::string clean;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text != nullptr ? text : "");
    while (*p != 0) {
        const unsigned char c = *p;
        int length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        for (int k = 1; k < length; k++)
            if ((p[k] & 0xC0) != 0x80) length = 0;
        if (length == 0) {
            clean += "\xEF\xBF\xBD";
            p++;
        } else if (length == 1) {
            clean += c < 0x20 ? ' ' : static_cast<char>(c);
            p++;
        } else {
            clean.append(reinterpret_cast<const char*>(p), static_cast<std::size_t>(length));
            p += length;
        }
    }
    try {
        out = Json::parse(clean);
        return true;
    } catch (const Json::exception& e) {
        if (why != nullptr) *why = e.what();
        return false;
    }
}

std::string json_str(const Json& object, const char* key)
{
    if (!object.is_object()) return "";
    const auto it = object.find(key);
    if (it == object.end()) return "";
    if (it->is_string()) return it->get<std::string>();
    if (it->is_null()) return "";
    return it->dump();
}

long long json_int(const Json& object, const char* key)
{
    if (!object.is_object()) return 0;
    const auto it = object.find(key);
    return it != object.end() && it->is_number_integer() ? it->get<long long>() : 0;
}

}  // namespace tool

int main(int argc, char** argv)
{
    using namespace tool;
    if (argc < 2) return usage_error("", "a COMMAND is needed");
    const std::string command = argv[1];
    if (command == "announce") return run_announce(argc, argv);
    if (command == "browse") return run_browse(argc, argv);
    if (command == "resolve") return run_resolve(argc, argv);
    if (command == "interfaces") return run_interfaces(argc, argv);
    if (command == "version" || command == "--version") {
        std::printf("tandrelo-mdns %s\n", mdns_version());
        return exit_ok;
    }
    if (command == "help" || command == "--help" || command == "-h") {
        print_usage("", stdout);
        return exit_ok;
    }
    return usage_error("", "unknown command '" + command + "'");
}
