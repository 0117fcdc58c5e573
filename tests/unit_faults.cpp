// Failures injected into the platform layer: what the responder and the
// browser answer when a system call fails, the state they leave behind, the
// failures they deliberately pass over (options, receives, sends), and that
// every socket and thread they made is given back.
//
// Tests that start the browser on its own socket bind port 5353 and send
// to it; their names mention 5353, which makes ctest run them one at a time
// with the other tests of that port.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <thread>

#include "browse/question.h"
#include "core/state.h"
#include "platform/faults.h"
#include "support/response_builder.h"
#include "support/test_net.h"
#include "tandrelo_mdns.h"

namespace {

using json = nlohmann::json;
using steady = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The socket error number that injected failures leave behind: no system
// reports it, so a message that carries it proves where it came from.
constexpr int injected_error = 4242;

json stats() { return json::parse(mdns_stats()); }

long elapsed_ms(steady::time_point since)
{
    return static_cast<long>(std::chrono::duration_cast<milliseconds>(steady::now() - since).count());
}

// Waits until the count reaches at least value, for at most two seconds.
bool wait_for_count(const std::atomic<long>& count, long value)
{
    auto until = steady::now() + std::chrono::seconds(2);
    while (count.load() < value) {
        if (steady::now() > until) return false;
        std::this_thread::sleep_for(milliseconds(1));
    }
    return true;
}

void fail(plat_fault_point point, int times) { g_plat_faults.fail[point] = times; }
long injected(plat_fault_point point) { return g_plat_faults.injected[point].load(); }

// Socket faults aimed at one socket only, so the test's own sockets work on.
void aim_at(plat_socket s)
{
    g_plat_faults.socket = s;
    g_plat_faults.only_on_socket = true;
}

// Every test ends with the library stopped and with as many sockets open and
// threads alive as when it began: nothing the library made may be left.
class faults_test : public ::testing::Test {
protected:
    void SetUp() override
    {
        plat_fault_clear();
        g_plat_faults.error = injected_error;
        sockets_at_start_ = g_plat_faults.open_sockets.load();
        threads_at_start_ = g_plat_faults.live_threads.load();
    }
    void TearDown() override
    {
        plat_fault_clear();
        mdns_browse_stop();
        mdns_stop();
        expect_nothing_left();
    }
    void expect_nothing_left() const
    {
        EXPECT_EQ(sockets_at_start_, g_plat_faults.open_sockets.load()) << "sockets left open";
        EXPECT_EQ(threads_at_start_, g_plat_faults.live_threads.load()) << "threads left running";
    }

private:
    long sockets_at_start_ = 0;
    long threads_at_start_ = 0;
};

// ---- responder start ------------------------------------------------------------

struct start_failure {
    const char* what;
    plat_fault_point point;
    std::uint16_t port;
    int code;
    const char* message;  // %d stands for the injected error number
    bool port_taken;      // the failure comes after the port was stored
};

const start_failure start_failures[] = {
    {"socket layer", plat_fault_socket_layer_start, 27101, MDNS_ERR_INVALID, "WSAStartup failed", false},
    {"socket", plat_fault_udp_socket, 27102, MDNS_ERR_INVALID, "socket() failed with error 4242", true},
    {"bind", plat_fault_bind, 27103, MDNS_ERR_BIND, "bind() on port 27103 failed with error 4242", true},
    {"thread", plat_fault_thread_start, 27104, MDNS_ERR_THREAD, "CreateThread failed", true},
};

void PrintTo(const start_failure& c, std::ostream* os) { *os << c.what; }

class ResponderStartFailure : public faults_test,
                              public ::testing::WithParamInterface<start_failure> {};

TEST_P(ResponderStartFailure, ReportsTheCodeLeavesItStoppedAndALaterStartWorks)
{
    const start_failure& c = GetParam();
    fail(c.point, 1);
    EXPECT_EQ(c.code, mdns_start(c.port));
    EXPECT_STREQ(c.message, mdns_last_error());
    EXPECT_EQ(1, injected(c.point));
    EXPECT_EQ(0, mdns_status());
    json s = stats();
    EXPECT_EQ(0, s["running"]);
    EXPECT_EQ(c.port_taken ? c.port : 5353, s["port"]);
    EXPECT_EQ(plat_invalid_socket, g_sock.load());
    if (c.point == plat_fault_thread_start) {
        EXPECT_EQ(0u, g_thread);
    }
    expect_nothing_left();  // the socket, if one was made, is closed again

    // Nothing of the failure stays behind: the next start works.
    ASSERT_EQ(MDNS_OK, mdns_start(c.port)) << mdns_last_error();
    EXPECT_EQ(1, mdns_status());
    EXPECT_EQ(c.port, stats()["port"]);
    EXPECT_EQ(MDNS_OK, mdns_stop());
}

INSTANTIATE_TEST_SUITE_P(Faults, ResponderStartFailure, ::testing::ValuesIn(start_failures),
                         [](const ::testing::TestParamInfo<start_failure>& info) {
                             std::string name = info.param.what;
                             for (char& ch : name) {
                                 if (ch == ' ') ch = '_';
                             }
                             return name;
                         });

TEST_F(faults_test, SocketLayerFailureLeavesARunningResponderRunning)
{
    ASSERT_EQ(MDNS_OK, mdns_start(27105));
    fail(plat_fault_socket_layer_start, 1);
    EXPECT_EQ(MDNS_ERR_INVALID, mdns_start(27106));
    EXPECT_STREQ("WSAStartup failed", mdns_last_error());
    EXPECT_EQ(1, mdns_status());
    EXPECT_EQ(27105, stats()["port"]);
    // The browser rides on the running responder and needs no socket layer.
    const long layer_calls = g_plat_faults.calls[plat_fault_socket_layer_start].load();
    fail(plat_fault_socket_layer_start, plat_fault_always);
    EXPECT_EQ(MDNS_OK, mdns_browse_start());
    EXPECT_EQ(layer_calls, g_plat_faults.calls[plat_fault_socket_layer_start].load());
}

// A failed option, even a failed group join, does not stop the start: the
// responder runs and answers a query sent straight to its port.
TEST_F(faults_test, FailedOptionsDoNotStopTheStart)
{
    const std::uint16_t port = 27107;
    const plat_fault_point options[] = {plat_fault_set_reuseaddr, plat_fault_set_multicast_if,
                                        plat_fault_add_membership, plat_fault_set_multicast_loop,
                                        plat_fault_set_multicast_ttl};
    test_socket client;
    ASSERT_TRUE(client.open(27607, false, 1000));
    std::snprintf(g_selected_if, sizeof g_selected_if, "%s", "127.0.0.1");  // so the interface is set too
    for (plat_fault_point p : options) fail(p, plat_fault_always);

    ASSERT_EQ(MDNS_OK, mdns_start(port)) << mdns_last_error();
    EXPECT_EQ(1, mdns_status());
    for (plat_fault_point p : options) EXPECT_EQ(1, injected(p)) << p;
    client.send(make_query(7, {{"tandrelo.local", 1, 1}}), port);
    message m = parse_message(client.receive());
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(7, m.id);
    EXPECT_EQ(1, m.ancount);
}

// ---- the receive loop -------------------------------------------------------------

// Each failed receive costs a 5 ms pause and the thread receives again.
TEST_F(faults_test, FailedReceivesPauseFiveMillisecondsEachAndTheThreadGoesOn)
{
    const std::uint16_t port = 27108;
    const int failures = 40;
    test_socket client;
    ASSERT_TRUE(client.open(27608, false, 1000));
    ASSERT_EQ(MDNS_OK, mdns_start(port));
    aim_at(g_sock.load());
    auto injected_from = steady::now();
    fail(plat_fault_recvfrom, failures);

    // The thread may be blocked in a receive that began before the fault
    // was set; this query wakes it. Either way its next receives fail, and
    // then it takes the query.
    client.send(make_query(1, {{"tandrelo.local", 1, 1}}), port);
    ASSERT_TRUE(wait_for_count(g_plat_faults.injected[plat_fault_recvfrom], failures));
    EXPECT_GE(elapsed_ms(injected_from), (failures - 1) * 5);
    ASSERT_FALSE(client.receive().empty());

    client.send(make_query(2, {{"tandrelo.local", 1, 1}}), port);
    message m = parse_message(client.receive());
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(2, m.id);
    EXPECT_EQ(2, stats()["queries"]);
    EXPECT_EQ(failures, injected(plat_fault_recvfrom));
}

// A socket whose every receive fails does not make the thread spin, and the
// responder still stops at once.
TEST_F(faults_test, ReceivesThatAlwaysFailNeitherSpinNorHoldUpTheStop)
{
    const std::uint16_t port = 27109;
    test_socket client;
    ASSERT_TRUE(client.open(27609, false, 1000));
    ASSERT_EQ(MDNS_OK, mdns_start(port));
    aim_at(g_sock.load());
    fail(plat_fault_recvfrom, plat_fault_always);
    client.send(make_query(1, {{"tandrelo.local", 1, 1}}), port);  // wakes the thread
    ASSERT_TRUE(wait_for_count(g_plat_faults.injected[plat_fault_recvfrom], 1));
    long before = injected(plat_fault_recvfrom);
    auto watched_from = steady::now();
    std::this_thread::sleep_for(milliseconds(300));
    long during = injected(plat_fault_recvfrom) - before;
    // A loaded machine may sleep longer than asked: the bound is taken from
    // the time that really passed, with one receive of slack at each end.
    long watched_ms = elapsed_ms(watched_from);
    EXPECT_GE(during, 3);                    // the thread keeps trying ...
    EXPECT_LE(during, watched_ms / 5 + 2);   // ... but no more than once per 5 ms

    auto stopping = steady::now();
    EXPECT_EQ(MDNS_OK, mdns_stop());
    EXPECT_LT(elapsed_ms(stopping), 1000);
}

// ---- sends ------------------------------------------------------------------------

// A failed send is passed over: the start, the configuration calls and the
// answers go on as if it had been sent, and nothing is reported.
TEST_F(faults_test, FailedSendsAreIgnored)
{
    const std::uint16_t port = 27110;
    test_socket client;
    ASSERT_TRUE(client.open(27610, false, 500));
    mdns_set_hostname("first");  // leaves no error text behind
    fail(plat_fault_sendto, plat_fault_always);

    ASSERT_EQ(MDNS_OK, mdns_start(port));
    EXPECT_EQ(3, injected(plat_fault_sendto));  // the three sends of the announcement
    EXPECT_EQ(MDNS_OK, mdns_set_hostname("second"));
    EXPECT_EQ(7, injected(plat_fault_sendto));  // three more, and the old name's goodbye
    EXPECT_EQ(MDNS_OK, mdns_browse_start());  // its question goes through the responder's socket
    EXPECT_EQ(8, injected(plat_fault_sendto));
    EXPECT_STREQ("", mdns_last_error());

    // Only the responder's sends fail from here on; the client's own work.
    aim_at(g_sock.load());
    client.send(make_query(1, {{"second.local", 1, 1}}), port);
    EXPECT_TRUE(client.receive().empty());
    ASSERT_TRUE(wait_for_count(g_plat_faults.injected[plat_fault_sendto], 9));  // to the sender and the group
    EXPECT_EQ(1, stats()["answers"]);

    fail(plat_fault_sendto, 0);
    client.send(make_query(2, {{"second.local", 1, 1}}), port);
    message m = parse_message(client.receive());
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(2, m.id);
    EXPECT_EQ(2, stats()["answers"]);
}

// ---- interface selection ------------------------------------------------------------

// Selecting an interface restarts a running responder; when that restart
// fails, the caller gets the start's code and message, the responder is left
// stopped with nothing open, and the selection stands.
TEST_F(faults_test, FailedRestartAfterASelectionReturnsTheStartsCode)
{
    plat_adapter_raw fake;
    std::memset(&fake, 0, sizeof fake);
    std::snprintf(fake.name, sizeof fake.name, "%s", "fake0");
    fake.oper_up = 1;
    fake.ipv4_count = 1;
    ASSERT_EQ(1, plat_ipv4_parse("10.77.0.1", &fake.ipv4_be[0]));

    struct restart_case {
        plat_fault_point point;
        int code;
        const char* message;
    };
    const restart_case cases[] = {
        {plat_fault_udp_socket, MDNS_ERR_INVALID, "socket() failed with error 4242"},
        {plat_fault_bind, MDNS_ERR_BIND, "bind() on port 27111 failed with error 4242"},
        {plat_fault_thread_start, MDNS_ERR_THREAD, "CreateThread failed"},
    };
    for (const restart_case& c : cases) {
        SCOPED_TRACE(c.message);
        mdns_set_interface(nullptr);
        ASSERT_EQ(MDNS_OK, mdns_start(27111));
        g_plat_faults.adapters = &fake;
        g_plat_faults.adapter_count = 1;
        fail(c.point, 1);
        EXPECT_EQ(c.code, mdns_set_interface("10.77.0.1"));
        EXPECT_STREQ(c.message, mdns_last_error());
        EXPECT_EQ(0, mdns_status());
        json s = stats();
        EXPECT_EQ("10.77.0.1", s["interface"]);
        EXPECT_EQ(27111, s["port"]);
        expect_nothing_left();
        plat_fault_clear();
        g_plat_faults.error = injected_error;
    }

    // Without a fault the same selection restarts the responder.
    ASSERT_EQ(MDNS_OK, mdns_start(27111));
    g_plat_faults.adapters = &fake;
    g_plat_faults.adapter_count = 1;
    EXPECT_EQ(MDNS_OK, mdns_set_interface("10.77.0.1")) << mdns_last_error();
    EXPECT_EQ(1, mdns_status());
}

// ---- browser start ------------------------------------------------------------------

struct browse_failure {
    const char* what;
    plat_fault_point point;
    int code;
    const char* message;
};

const browse_failure browse_failures[] = {
    {"socket_layer", plat_fault_socket_layer_start, MDNS_ERR_INVALID, "WSAStartup failed"},
    {"socket", plat_fault_udp_socket, MDNS_ERR_INVALID, "browse socket() failed"},
    {"bind", plat_fault_bind, MDNS_ERR_BIND, "browse bind() failed with error 4242"},
    {"thread", plat_fault_thread_start, MDNS_ERR_THREAD, "CreateThread failed"},
};

void PrintTo(const browse_failure& c, std::ostream* os) { *os << c.what; }

class BrowseStartFailure5353 : public faults_test,
                               public ::testing::WithParamInterface<browse_failure> {};

// A browser that cannot run reports so and leaves nothing behind: no flag,
// no socket, no thread.
TEST_P(BrowseStartFailure5353, ReportsTheCodeLeavesItOffAndALaterStartWorks)
{
    const browse_failure& c = GetParam();
    fail(c.point, 1);
    EXPECT_EQ(c.code, mdns_browse_start());
    EXPECT_STREQ(c.message, mdns_last_error());
    EXPECT_EQ(1, injected(c.point));
    EXPECT_EQ(0, stats()["browsing"]);
    EXPECT_EQ(plat_invalid_socket, g_browse_sock.load());
    expect_nothing_left();
    EXPECT_EQ(MDNS_OK, mdns_browse_stop());

    const long layer_starts = g_plat_faults.calls[plat_fault_socket_layer_start].load();
    ASSERT_EQ(MDNS_OK, mdns_browse_start()) << mdns_last_error();
    EXPECT_EQ(1, stats()["browsing"]);
    EXPECT_NE(plat_invalid_socket, g_browse_sock.load());
    // The socket layer is started by the first start that gets that far,
    // and only once: a failed start-up is tried again.
    const long expected_layer_starts = c.point == plat_fault_socket_layer_start ? 1 : 0;
    EXPECT_EQ(expected_layer_starts,
              g_plat_faults.calls[plat_fault_socket_layer_start].load() - layer_starts);
    EXPECT_EQ(MDNS_OK, mdns_browse_stop());
    ASSERT_EQ(MDNS_OK, mdns_browse_start());
    EXPECT_EQ(MDNS_OK, mdns_browse_stop());
    EXPECT_EQ(expected_layer_starts,
              g_plat_faults.calls[plat_fault_socket_layer_start].load() - layer_starts);
}

INSTANTIATE_TEST_SUITE_P(Faults, BrowseStartFailure5353, ::testing::ValuesIn(browse_failures),
                         [](const ::testing::TestParamInfo<browse_failure>& info) {
                             return std::string(info.param.what);
                         });

// The browser's own socket passes over failed options, failed receives and
// a failed question, and still fills the cache.
TEST_F(faults_test, BrowserOnPort5353PassesOverFailedOptionsReceivesAndSends)
{
    using namespace response_builder;
    test_socket peer;
    ASSERT_TRUE(peer.open(27612, false, 500));
    fail(plat_fault_set_reuseaddr, plat_fault_always);
    fail(plat_fault_add_membership, plat_fault_always);
    fail(plat_fault_set_multicast_ttl, plat_fault_always);
    fail(plat_fault_sendto, 1);  // the start's question
    ASSERT_EQ(MDNS_OK, mdns_browse_start()) << mdns_last_error();
    EXPECT_EQ(1, injected(plat_fault_set_reuseaddr));
    EXPECT_EQ(1, injected(plat_fault_add_membership));
    EXPECT_EQ(1, injected(plat_fault_set_multicast_ttl));
    EXPECT_EQ(1, injected(plat_fault_sendto));

    aim_at(g_browse_sock.load());
    fail(plat_fault_recvfrom, 20);
    // A response sent straight to the browser's port, which wakes its thread
    // and is cached; the next twenty receives fail, then one more arrives.
    auto answer = [](const char* host, std::uint8_t last) {
        return response({rr(encode_name(host), 1, a_rdata(10, 0, 0, last))});
    };
    peer.send(answer("one.local", 1), 5353);
    ASSERT_TRUE(wait_for_count(g_plat_faults.injected[plat_fault_recvfrom], 20));
    peer.send(answer("two.local", 2), 5353);
    auto until = steady::now() + std::chrono::seconds(2);
    while (stats()["browse_count"] != 2 && steady::now() < until) {
        std::this_thread::sleep_for(milliseconds(10));
    }
    EXPECT_EQ(2, stats()["browse_count"]);
}

}  // namespace
