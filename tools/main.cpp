// tandrelo-mdns: the command-line tool. Dispatches to the commands and holds
// the helpers that they share (usage, exit codes, Ctrl-C, pauses).
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

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
    "  tandrelo-mdns announce [--hostname LABEL] [--addr IPV4|auto] [--interface IPV4]\n"
    "                         [--port PORT] [--seconds N]\n"
    "                         [--service TYPE NAME PORT [KEY=VALUE ...|JSON]] ...\n"
    "      Answers for LABEL.local (default tandrelo.local) and for each service\n"
    "      until Ctrl-C, or for N seconds. The address is that of the adapter\n"
    "      with the gateway unless --addr gives one. TXT attributes are KEY=VALUE\n"
    "      words or one flat JSON object such as '{\"path\":\"/\"}'.\n";

const char* const usage_browse =
    "  tandrelo-mdns browse [--json] [--seconds N] [--interface IPV4]\n"
    "                       [--with-responder [announce options]]\n"
    "      Prints the services, hosts and service types that others announce as\n"
    "      they arrive, one line for each new or changed one; --json prints one\n"
    "      JSON object per line. --with-responder also announces this host and\n"
    "      browses on the responder's socket.\n";

const char* const usage_interfaces =
    "  tandrelo-mdns interfaces [--json]\n"
    "      Lists the usable IPv4 adapters.\n";

}  // namespace

void print_usage(const std::string& command, std::FILE* out)
{
    std::fputs(usage_head, out);
    if (command.empty() || command == "announce") std::fputs(usage_announce, out);
    if (command.empty() || command == "browse") std::fputs(usage_browse, out);
    if (command.empty() || command == "interfaces") std::fputs(usage_interfaces, out);
    if (command.empty()) std::fputs("  tandrelo-mdns version\n  tandrelo-mdns help\n", out);
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

int take_seconds_option(const std::string& command, int argc, char** argv, int& i,
                        long long& seconds)
{
    if (std::string(argv[i]) != "--seconds") return 0;
    if (i + 1 >= argc) return -usage_error(command, "--seconds needs a number N");
    if (!parse_integer(argv[++i], 0, 100000000, seconds))
        return -usage_error(command, std::string("--seconds needs a whole number of seconds, not '") +
                                         argv[i] + "'");
    return 1;
}

std::string printable(const std::string& text)
{
    std::string out = text;
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return out;
}

}  // namespace tool

int main(int argc, char** argv)
{
    using namespace tool;
    if (argc < 2) return usage_error("", "a COMMAND is needed");
    const std::string command = argv[1];
    if (command == "announce") return run_announce(argc, argv);
    if (command == "browse") return run_browse(argc, argv);
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
