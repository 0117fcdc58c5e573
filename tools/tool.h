// Shared pieces of the tandrelo-mdns command-line tool. The tool is a user
// of the library: it drives it through the public header only.
#pragma once

#include <cstdio>
#include <string>

namespace tool {

struct JsonValue;

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

// Ctrl-C (and SIGTERM) handling, and pauses that end early when it comes.
void install_stop_handler();
bool stop_requested();
void pause_ms(long long milliseconds);
// Milliseconds from a monotonic clock.
long long now_ms();

// Strict decimal parsing: the whole text must be an integer in range.
bool parse_integer(const std::string& text, long long low, long long high, long long& out);
// Reads "--seconds N" at argv[i]: 1 when taken (i advanced, seconds set),
// 0 when argv[i] is something else, -exit code after a usage error.
int take_seconds_option(const std::string& command, int argc, char** argv, int& i,
                        long long& seconds);

// The text with every control character replaced by '?', so that names
// heard from the network cannot steer the terminal.
std::string printable(const std::string& text);

// Responder options, shared by announce and browse --with-responder. Each
// setting goes to the library as soon as it is read, so that the library's
// own checks and messages judge it.
struct ResponderOptions {
    int port = 0;                 // 0: the library's default, 5353
    bool addr_given = false;      // --addr seen; otherwise auto-detection
    bool responder_only = false;  // an option that only a responder uses
};
// Tries the option at argv[i], advancing i past its values. Returns 1 when
// taken, 0 when argv[i] is no responder option, -exit code after an error.
int take_responder_option(const std::string& command, int argc, char** argv, int& i,
                          ResponderOptions& options);
// Runs the address auto-detection unless --addr was given, then starts the
// responder; prints the failure and returns its exit code.
int start_responder(const ResponderOptions& options);
// Prints the host and the services of a status report.
void print_announcement(const JsonValue& stats);

int run_announce(int argc, char** argv);
int run_browse(int argc, char** argv);
int run_interfaces(int argc, char** argv);

}  // namespace tool
