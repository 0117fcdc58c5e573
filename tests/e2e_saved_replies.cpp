// The bytes of replies and announcements for the benchmark's workloads, as
// saved in tests/fixtures/saved_replies.txt: any change to what the library
// writes for them shows here first. With TANDRELO_SAVE_REPLIES=FILE the test
// writes what it received to FILE instead of comparing (to record a change
// that is meant).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "support/responder_fixture.h"

#ifndef TANDRELO_FIXTURES_DIR
#define TANDRELO_FIXTURES_DIR "tests/fixtures"
#endif

namespace {

constexpr std::uint16_t A = 1, PTR = 12, TXT = 16, SRV = 33, ANY = 255;
constexpr std::uint16_t IN = 1, IN_UNICAST = 0x8001;

std::string hex(const bytes& b)
{
    std::string out;
    char two[3];
    for (std::uint8_t v : b) {
        std::snprintf(two, sizeof two, "%02x", v);
        out += two;
    }
    return out;
}

std::map<std::string, std::string> read_saved(const std::string& path)
{
    std::map<std::string, std::string> saved;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::size_t space = line.find(' ');
        if (line.empty() || line[0] == '#' || space == std::string::npos) continue;
        saved[line.substr(0, space)] = line.substr(space + 1);
    }
    return saved;
}

struct saved_replies_test : responder_test {};

TEST_F(saved_replies_test, RepliesAndAnnouncementsKeepTheirBytes)
{
    // The benchmark's host: bench.local at 127.0.0.1 with four services.
    ASSERT_EQ(0, mdns_set_hostname("bench"));
    ASSERT_EQ(0, mdns_set_addr("127.0.0.1"));
    mdns_add_service("_http._tcp", "Bench Web", 8080, "{\"path\":\"/\",\"version\":\"1.1\"}");
    mdns_add_service("_http._tcp", "Bench Admin", 8081, "{\"path\":\"/admin\"}");
    mdns_add_service("_ipp._tcp", "Bench Printer", 631, "{\"rp\":\"ipp/print\",\"ty\":\"Bench\"}");
    mdns_add_service("_ssh._tcp", "Bench Shell", 22, nullptr);

    std::map<std::string, std::string> got;
    port = 21901;
    ASSERT_TRUE(client.open(static_cast<std::uint16_t>(port + 500), false, 400));
    ASSERT_TRUE(group.open(port, true, 400));
    ASSERT_EQ(MDNS_OK, mdns_start(port)) << mdns_last_error();
    std::vector<bytes> announcements = drain_group();
    ASSERT_FALSE(announcements.empty());
    got["announcement"] = hex(announcements[0]);

    const struct {
        const char* key;
        std::vector<question> questions;
    } workloads[] = {
        {"a_host", {{"bench.local", A, IN}}},
        {"ptr_http", {{"_http._tcp.local", PTR, IN}}},
        {"ptr_enumeration", {{"_services._dns-sd._udp.local", PTR, IN}}},
        {"any_instance", {{"Bench Web._http._tcp.local", ANY, IN}}},
        {"srv_txt_instance", {{"Bench Printer._ipp._tcp.local", SRV, IN},
                              {"Bench Printer._ipp._tcp.local", TXT, IN}}},
        {"unicast_a", {{"BENCH.local", A, IN_UNICAST}}},
        {"ptr_ssh_and_a", {{"_ssh._tcp.local", PTR, IN}, {"bench.local", A, IN}}},
    };
    std::uint16_t id = 0x1000;
    for (const auto& w : workloads) {
        ask(make_query(id++, w.questions));
        bytes reply = client.receive();
        ASSERT_FALSE(reply.empty()) << w.key;
        got[w.key] = hex(reply);
    }

    const char* save_to = std::getenv("TANDRELO_SAVE_REPLIES");
    if (save_to != nullptr && save_to[0] != '\0') {
        std::ofstream out(save_to);
        out << "# key hex-bytes: replies and the first announcement of the benchmark host\n";
        for (const auto& kv : got) out << kv.first << ' ' << kv.second << '\n';
        GTEST_SKIP() << "saved to " << save_to;
    }
    const std::map<std::string, std::string> saved =
        read_saved(std::string(TANDRELO_FIXTURES_DIR) + "/saved_replies.txt");
    ASSERT_FALSE(saved.empty()) << "no saved replies in " << TANDRELO_FIXTURES_DIR;
    for (const auto& kv : saved) {
        EXPECT_EQ(kv.second, got[kv.first]) << kv.first;
    }
}

}  // namespace
