// The protocol paths never touch the heap: answering queries, building and
// sending announcements and the browser's question, caching other hosts'
// answers (a host-name conflict included), and rendering the reports.
//
// Every allocation of the process is counted while a flag is set. In a plain
// build this file replaces malloc, calloc, realloc and operator new (they
// count, then hand over to the C library's allocator); in a sanitizer build,
// where the sanitizer owns the allocator, its allocation hook counts instead.
// Adapter enumeration allocates by design and is not exercised here.
//
// Replies and announcements go out through a real socket with multicast TTL
// 0, to a client socket and a group listener of this test, and are checked
// to have arrived once counting has stopped.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "browse/question.h"
#include "browse/cache.h"
#include "core/state.h"
#include "core/text.h"
#include "responder/responder.h"
#include "support/response_builder.h"
#include "support/test_net.h"
#include "internal/state_reset.h"
#include "tandrelo_mdns.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TANDRELO_SANITIZER_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TANDRELO_SANITIZER_ALLOCATOR 1
#endif
#endif

namespace {

std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};

void note_allocation()
{
    if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1);
}

}  // namespace

#if defined(TANDRELO_SANITIZER_ALLOCATOR)

// Part of the common sanitizer interface (sanitizer/allocator_interface.h,
// which not every compiler ships): the hook runs on every allocation that
// the sanitizer's allocator makes, malloc and operator new alike.
extern "C" int __sanitizer_install_malloc_and_free_hooks(
    void (*malloc_hook)(const volatile void*, std::size_t), void (*free_hook)(const volatile void*));

namespace {
void count_malloc_hook(const volatile void*, std::size_t) { note_allocation(); }
// The sanitizers install the pair only when both hooks are given.
void ignore_free_hook(const volatile void*) {}
}  // namespace

#else

// glibc's own entry points, which its malloc, calloc and realloc call.
extern "C" void* __libc_malloc(std::size_t size);
extern "C" void* __libc_calloc(std::size_t count, std::size_t size);
extern "C" void* __libc_realloc(void* block, std::size_t size);

extern "C" void* malloc(std::size_t size) noexcept
{
    note_allocation();
    return __libc_malloc(size);
}

extern "C" void* calloc(std::size_t count, std::size_t size) noexcept
{
    note_allocation();
    return __libc_calloc(count, size);
}

extern "C" void* realloc(void* block, std::size_t size) noexcept
{
    note_allocation();
    return __libc_realloc(block, size);
}

namespace {
void* counted_new(std::size_t size)
{
    note_allocation();
    void* block = __libc_malloc(size == 0 ? 1 : size);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}
}  // namespace

void* operator new(std::size_t size) { return counted_new(size); }
void* operator new[](std::size_t size) { return counted_new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    note_allocation();
    return __libc_malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    note_allocation();
    return __libc_malloc(size == 0 ? 1 : size);
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

#endif

namespace {

using namespace response_builder;

constexpr std::uint16_t A = 1, PTR = 12, TXT = 16, SRV = 33, ANY = 255;

// Counts the allocations made between its start and stop.
struct allocation_window {
    void start()
    {
        g_allocations = 0;
        g_counting = true;
    }
    long stop()
    {
        g_counting = false;
        return g_allocations.load();
    }
};

// Each test has ports of its own, as ctest runs them side by side: the
// query's sender, and g_port, where the responder multicasts.
struct no_alloc_test : ::testing::Test {
    std::uint16_t client_port = 0;
    std::uint16_t group_port = 0;
    plat_socket responder = plat_invalid_socket;
    test_socket client;
    test_socket group;
    plat_addr4 client_addr{};
    allocation_window window;

    static void SetUpTestSuite()
    {
#if defined(TANDRELO_SANITIZER_ALLOCATOR)
        ASSERT_NE(0, __sanitizer_install_malloc_and_free_hooks(count_malloc_hook, ignore_free_hook));
#endif
    }

    void SetUp() override
    {
        lock_init();
        const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        const char* const tests[] = {"QueriesAreAnsweredWithoutAllocating",
                                     "AnnouncementsAndTheBrowseQuestionAreBuiltAndSentWithoutAllocating",
                                     "ResponsesAreCachedWithoutAllocating",
                                     "ReportsAreRenderedWithoutAllocating",
                                     "TheCounterSeesAnAllocation"};
        for (std::uint16_t i = 0; i < sizeof tests / sizeof tests[0]; i++) {
            if (test == tests[i]) {
                client_port = static_cast<std::uint16_t>(26001 + 2 * i);
                group_port = static_cast<std::uint16_t>(26002 + 2 * i);
            }
        }
        ASSERT_NE(0, client_port) << "no ports for " << test;
        state_reset_for_tests();
        ASSERT_EQ(MDNS_OK, mdns_set_hostname("quiet"));
        ASSERT_EQ(MDNS_OK, mdns_set_addr("192.168.7.42"));
        ASSERT_EQ(0, mdns_add_service("_http._tcp", "Web", 8080, R"({"path":"/","v":"1"})"));
        ASSERT_EQ(1, mdns_add_service("_ipp._tcp", "Printer", 631, nullptr));
        ASSERT_EQ(2, mdns_add_service("_http._tcp", "Admin", 8443,
                                      ("{\"big\":\"" + std::string(180, 'x') + "\"}").c_str()));

        ASSERT_TRUE(client.open(client_port, false, 400));
        ASSERT_TRUE(group.open(group_port, true, 400));
        client_addr.addr_be = plat_ipv4_addr("127.0.0.1");
        client_addr.port_be = plat_htons(client_port);

        // The responder's socket, as mdns_start sets it up, but with multicast
        // TTL 0: nothing it sends can leave this host. No receive thread runs;
        // datagrams are handed to process_incoming directly.
        responder = plat_udp_socket();
        ASSERT_NE(plat_invalid_socket, responder);
        plat_set_reuseaddr(responder);
        ASSERT_TRUE(plat_bind_any(responder, 0));
        plat_set_multicast_loop(responder, 1);
        plat_set_multicast_ttl(responder, 0);
        lock_enter();
        g_port = group_port;
        g_sock = responder;
        g_sock_epoch++;
        g_running = 1;
        lock_leave();
    }

    void TearDown() override
    {
        lock_enter();
        g_running = 0;
        g_sock = plat_invalid_socket;
        g_sock_epoch++;
        lock_leave();
        if (responder != plat_invalid_socket) plat_socket_close(responder);
    }

    void feed(const bytes& datagram, const plat_addr4& from)
    {
        process_incoming(datagram.data(), datagram.size(), from);
    }

    // Datagrams that reached the group listener and are responses.
    std::vector<bytes> group_responses()
    {
        std::vector<bytes> out;
        for (const bytes& b : group.drain()) {
            if (b.size() >= 4 && (b[2] & 0x80) != 0) out.push_back(b);
        }
        return out;
    }
};

TEST_F(no_alloc_test, QueriesAreAnsweredWithoutAllocating)
{
    // Made before counting starts: the test's own vectors allocate.
    const std::vector<bytes> queries = {
        make_query(1, {{"quiet.local", A, 1}}),
        make_query(2, {{"_services._dns-sd._udp.local", PTR, 1}}),
        make_query(3, {{"_http._tcp.local", PTR, 1}}),
        make_query(4, {{"Web._http._tcp.local", ANY, 1}, {"Admin._http._tcp.local", TXT, 1}}),
        make_query(5, {{"Printer._ipp._tcp.local", SRV, 0x8001}}),  // unicast reply only
        make_query(6, {{"nobody.local", A, 1}}),                    // no reply
    };
    const std::uint64_t answered_before = g_answers_sent;

    window.start();
    for (const bytes& q : queries) feed(q, client_addr);
    const long allocations = window.stop();

    EXPECT_EQ(0, allocations);
    EXPECT_EQ(answered_before + 5, g_answers_sent);
    // The replies really went out: five to the sender, four to the group.
    std::vector<bytes> to_client = client.drain();
    ASSERT_EQ(5u, to_client.size());
    std::vector<std::uint16_t> ids;
    for (const bytes& reply : to_client) {
        message m = parse_message(reply);
        ASSERT_TRUE(m.ok);
        EXPECT_GT(m.ancount, 0);
        ids.push_back(m.id);
    }
    EXPECT_EQ((std::vector<std::uint16_t>{1, 2, 3, 4, 5}), ids);
    EXPECT_EQ(4u, group_responses().size());
}

TEST_F(no_alloc_test, AnnouncementsAndTheBrowseQuestionAreBuiltAndSentWithoutAllocating)
{
    std::uint8_t built[dns_message_size];

    window.start();
    lock_enter();
    const std::size_t length = build_announcement_locked(built);
    lock_leave();
    send_announcements();  // three sends, 100 ms apart
    browse_send_seed();    // the browser rides on the responder's socket
    const long allocations = window.stop();

    EXPECT_EQ(0, allocations);
    message m = parse_message(bytes(built, built + length));
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(13, m.ancount);  // A, then PTR, PTR, SRV, TXT per service
    // The group heard the announcement three times and the question once.
    std::vector<bytes> heard = group.drain();
    int announcements = 0, questions = 0;
    for (const bytes& b : heard) {
        if (b == bytes(built, built + length)) announcements++;
        if (b.size() == browse_seed_length && (b[2] & 0x80) == 0) questions++;
    }
    EXPECT_EQ(3, announcements);
    EXPECT_EQ(1, questions);
}

TEST_F(no_alloc_test, ResponsesAreCachedWithoutAllocating)
{
    g_browsing = 1;
    plat_addr4 peer_addr;
    peer_addr.addr_be = plat_ipv4_addr("192.168.7.5");
    peer_addr.port_be = plat_htons(5353);
    const bytes peer = encode_name("peer.local");
    // PTR target with a compression pointer back to the first owner name.
    bytes ptr_target = oct({0x03, 'W', 'e', 'b', 0xC0, 0x0C});
    const bytes answers = response({
        rr(encode_name("_http._tcp.local"), PTR, ptr_target),
        rr(peer, A, a_rdata(192, 168, 7, 5)),
        rr(encode_name("Web._http._tcp.local"), SRV, srv_rdata(80, peer)),
        rr(encode_name("Web._http._tcp.local"), TXT, txt_rdata({"path=/", "", "q=\"x\\"})),
    });
    // Another host claims our name: the host is renamed and announces itself.
    const bytes conflict = response({rr(encode_name("quiet.local"), A, a_rdata(192, 168, 7, 99))});

    window.start();
    feed(answers, peer_addr);
    feed(answers, peer_addr);  // the same answers again refresh the entries
    feed(conflict, peer_addr);
    const long allocations = window.stop();

    EXPECT_EQ(0, allocations);
    EXPECT_EQ(4, g_browse_count);
    EXPECT_STREQ("tandrelo-2", g_hostname);
    EXPECT_EQ(4u, group_responses().size());  // the new name's announcement, the old one's goodbye
}

TEST_F(no_alloc_test, ReportsAreRenderedWithoutAllocating)
{
    // A cache with a few entries, one of them with text that needs escaping.
    lock_enter();
    browse_upsert("peer.local", A, "192.168.7.5", 0, nullptr, nullptr, "192.168.7.5");
    browse_upsert("Web._http._tcp.local", TXT, nullptr, 0, nullptr, "q=\"x\\\x01\xff", "192.168.7.5");
    browse_upsert("Web._http._tcp.local", SRV, nullptr, 80, "peer.local", nullptr, "192.168.7.5");
    lock_leave();

    window.start();
    const char* stats = mdns_stats();
    const char* browse = mdns_browse_results();
    const long allocations = window.stop();

    EXPECT_EQ(0, allocations);
    const std::string stats_text = stats;
    const std::string browse_text = browse;
    EXPECT_NE(std::string::npos, stats_text.find("\"services_count\":3"));
    EXPECT_NE(std::string::npos, stats_text.find("\"hostname\":\"quiet\""));
    EXPECT_NE(std::string::npos, browse_text.find("\"txt\":\"q=\\\"x\\\\\\u0001\\u00ff\""));
    EXPECT_NE(std::string::npos, browse_text.find("\"port\":80"));
}

// The counter itself works: an allocation inside the window is seen.
TEST_F(no_alloc_test, TheCounterSeesAnAllocation)
{
    window.start();
    void* volatile block = std::malloc(64);
    std::string* volatile text = new std::string(100, 'x');
    const long allocations = window.stop();
    delete text;
    std::free(block);
    EXPECT_GE(allocations, 2);
}

}  // namespace
