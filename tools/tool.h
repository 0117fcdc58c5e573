// Shared pieces of the tandrelo-mdns command-line tool. The tool is a user
// of the library: it drives it through the public header only. Its own
// helpers may use well-kept libraries (CLI11 for the arguments, nlohmann/json
// for the reports), which the library itself never does.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace CLI {
class App;
}

namespace tool {

// Objects keep their members in the order written, so TXT attributes given
// as JSON go out in the user's order.
using Json = nlohmann::ordered_json;

// Exit codes a shell user expects.
constexpr int exit_ok = 0;
constexpr int exit_failure = 1;  // the library could not do what was asked
constexpr int exit_usage = 2;    // bad arguments

// Prints the usage of one command, or of all when command is empty.
void print_usage(const std::string& command, std::FILE* out);
// Prints "tandrelo-mdns COMMAND: MESSAGE" and the command's usage on stderr;
// returns exit_usage.
int usage_error(const std::string& command, const std::string& message);
// Prints "tandrelo-mdns: WHAT: <mdns_last_error()>" on stderr; returns
// exit_failure.
int library_failure(const std::string& what);

// Parses argv[2..] with the command's options. Returns -1 when the command
// should run, otherwise the exit code to end with (0 after --help or
// --version, 2 after a usage error). needs maps an option's name to what it
// needs ("a LABEL"), for the message when its value is missing.
int parse_command(CLI::App& app, const std::string& command, int argc, char** argv,
                  const std::map<std::string, std::string>& needs);

// Ctrl-C (and SIGTERM) handling, and pauses that end early when it comes.
void install_stop_handler();
bool stop_requested();
void pause_ms(long long milliseconds);
// Milliseconds from a monotonic clock.
long long now_ms();

// Strict decimal parsing: the whole text must be an integer in range.
bool parse_integer(const std::string& text, long long low, long long high, long long& out);
// "--seconds N" (or -s N) as given; -1 when absent. Returns exit_ok or a usage error.
int read_seconds(const std::string& command, const std::string& text, bool given, long long& seconds);

// The text with every control character replaced by '?', so that names
// heard from the network cannot steer the terminal.
std::string printable(const std::string& text);
// ASCII letters folded to lower case: DNS names compare that way.
std::string folded(const std::string& text);
bool ends_with_folded(const std::string& text, const std::string& suffix);
// "_http._tcp" and "_ipp._udp": '_', 1 to 15 letters, digits or '-', then
// "._tcp" or "._udp".
bool valid_service_type(const std::string& type);

// Reads one of the library's reports. Bytes that are not UTF-8 (names heard
// from the network) become U+FFFD and stray control characters spaces, so
// one odd name cannot hide the whole report. False, with the reason in
// *why, when the text is not JSON.
bool read_report(const char* text, Json& out, std::string* why);
// Member access with defaults, for reading report fields.
std::string json_str(const Json& object, const char* key);
long long json_int(const Json& object, const char* key);

// The address auto-detection and the responder start, shared by announce
// and browse --with-responder.
struct ResponderOptions {
    int port = 0;                 // 0: the library's default, 5353
    bool addr_given = false;      // --addr seen; otherwise auto-detection
    bool responder_only = false;  // an option that only a responder uses
};
// The responder options as CLI11 read them, before the library judges them.
struct ResponderArgs {
    std::string hostname, addr, adapter, port;
    std::vector<std::vector<std::string>> services;
};
// Declares --hostname/-n, --addr/-a, --interface/-i, --port and --service.
void add_responder_options(CLI::App& app, ResponderArgs& args);
// The "needs" texts of those options, for parse_command.
std::map<std::string, std::string> responder_option_needs();
// Hands the options that were given to the library, whose own checks and
// messages judge them. Returns exit_ok or a usage error.
int apply_responder_options(const std::string& command, CLI::App& app, const ResponderArgs& args,
                            ResponderOptions& options);
// Runs the address auto-detection unless --addr was given, then starts the
// responder; prints the failure and returns its exit code.
int start_responder(const ResponderOptions& options);
// Prints the host and the services of a status report.
void print_announcement(const Json& stats);

int run_announce(int argc, char** argv);
int run_browse(int argc, char** argv);
int run_resolve(int argc, char** argv);
int run_interfaces(int argc, char** argv);

}  // namespace tool

namespace tool {

// The library keeps the records of its own host name out of the browse
// cache, and every responder that keeps the default label answers for
// tandrelo.local. A browser that announces nothing therefore takes a label
// that nobody else uses, so that it hears those hosts' address records.
void take_unused_host_label();

// One multicast DNS question: the owner name as labels, and the record type.
struct Question {
    std::vector<std::string> labels;
    std::uint16_t type = 0;
};
constexpr std::uint16_t rr_a = 1;
constexpr std::uint16_t rr_ptr = 12;
constexpr std::uint16_t rr_txt = 16;
constexpr std::uint16_t rr_srv = 33;
constexpr std::uint16_t rr_any = 255;

// "kitchen.local" -> {"kitchen", "local"}; a trailing dot is dropped.
std::vector<std::string> name_labels(const std::string& name);
// A name that DNS can carry: labels of 1 to 63 bytes, at most 255 bytes in
// wire form.
bool valid_dns_name(const std::vector<std::string>& labels);

// Sends the questions to the mDNS group as standard multicast questions
// (QM), from port 5353 where that can be shared, so that responders answer
// to the group, where the library's browser hears and caches the answers.
// adapter is an adapter address for the outgoing multicast, or "" for the
// system's choice. False, with the reason in *error, when nothing was sent.
// (tools/question_socket.cpp, the tool's only operating-system code.)
bool send_questions(const std::vector<Question>& questions, const std::string& adapter, std::string* error);

}  // namespace tool
