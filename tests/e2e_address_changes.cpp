// Quick changes of the announced address while the responder runs: the
// copies of this host's own earlier announcements that come back from the
// group carry addresses it has since given up, and none of them may be
// taken for another host's claim on the name.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/responder_fixture.h"

namespace {

std::string hostname_in_report()
{
    const std::string report = mdns_stats();
    const std::string key = "\"hostname\":\"";
    std::size_t at = report.find(key);
    if (at == std::string::npos) return "";
    at += key.size();
    return report.substr(at, report.find('"', at) - at);
}

struct address_changes_test : responder_test {
    // Makes the changes 30 ms apart, each on a thread of its own (a change
    // returns only after its announcement's three sends, 200 ms), and lets
    // every announcement and its copies come back.
    void change_quickly(const std::vector<const char*>& addresses)
    {
        std::vector<std::thread> callers;
        for (const char* a : addresses) {
            callers.emplace_back([a] { EXPECT_EQ(MDNS_OK, mdns_set_addr(a)) << mdns_last_error(); });
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
        for (std::thread& t : callers) t.join();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
};

TEST_F(address_changes_test, AnExplicitAddressThenAutoDetectionKeepsTheLabel)
{
    start_on(21301);
    change_quickly({"10.1.1.1", ""});  // auto-detection: 127.0.0.1 in the test namespace
    EXPECT_EQ("tandrelo", hostname_in_report());
}

TEST_F(address_changes_test, ThreeExplicitChangesKeepTheLabel)
{
    start_on(21302);
    change_quickly({"10.0.0.1", "10.0.0.2", "10.0.0.3"});
    EXPECT_EQ("tandrelo", hostname_in_report());
}

}  // namespace
