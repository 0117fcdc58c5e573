// Claims on the host name by other hosts, fed to the packet handler: the
// tie-break while an announcement of the current label runs, goodbyes that
// claim nothing, and the limit on renames.
#include <gtest/gtest.h>

#include <string>

#include "core/state.h"
#include "core/text.h"
#include "internal/state_reset.h"
#include "responder/responder.h"
#include "support/response_builder.h"
#include "tandrelo_mdns.h"

namespace {

using namespace response_builder;

constexpr std::uint16_t A = 1;

struct claims_test : ::testing::Test {
    void SetUp() override
    {
        lock_init();
        state_reset_for_tests();
        lock_enter();
        set_announced_addr_locked("10.0.0.5");
        lock_leave();
    }
    static void claim(const char* name, std::uint8_t last_octet, std::uint32_t ttl = 120)
    {
        const bytes d = response({rr_ttl(encode_name(name), A, a_rdata(10, 0, 0, last_octet), ttl)});
        plat_addr4 from;
        from.addr_be = plat_ipv4_addr("10.0.0.9");
        from.port_be = plat_htons(5353);
        process_incoming(d.data(), d.size(), from);
    }
    static void announcing(const char* label)
    {
        text_copy(g_claim_label, sizeof g_claim_label, label);
        g_claims_in_progress = 1;
    }
};

TEST_F(claims_test, WhileAnnouncingTheLaterAddressKeepsTheName)
{
    announcing("tandrelo");
    claim("tandrelo.local", 4);  // 10.0.0.4 < 10.0.0.5: we keep it
    EXPECT_STREQ("tandrelo", g_hostname);
    claim("TANDRELO.local", 6);  // 10.0.0.6 > 10.0.0.5: we give it up
    EXPECT_STREQ("tandrelo-2", g_hostname);
    // The announcement in progress is of the old label, so the new one has
    // no tie-break: any claim renames, as outside an announcement.
    claim("tandrelo-2.local", 4);
    EXPECT_STREQ("tandrelo-3", g_hostname);
}

TEST_F(claims_test, OutsideAnAnnouncementEveryClaimRenames)
{
    claim("tandrelo.local", 4);
    EXPECT_STREQ("tandrelo-2", g_hostname);
    announcing("tandrelo-2");
    g_claims_in_progress = 0;  // its last send has been made
    claim("tandrelo-2.local", 1);
    EXPECT_STREQ("tandrelo-3", g_hostname);
}

TEST_F(claims_test, AGoodbyeForOurNameClaimsNothing)
{
    claim("tandrelo.local", 9, 0);
    EXPECT_STREQ("tandrelo", g_hostname);
    EXPECT_EQ(0, g_conflict_count);
}

TEST_F(claims_test, AfterFifteenRenamesInTenSecondsEachWaitsFiveSeconds)
{
    for (int i = 0; i < 40; i++) {
        claim(std::string(g_hostname).append(".local").c_str(), 9);
    }
    EXPECT_EQ(15, g_conflict_count);  // the flood renamed 15 times, then no more
    EXPECT_STREQ("tandrelo-16", g_hostname);

    // 5 s after the last rename, one more is allowed, then the pause again.
    for (std::uint64_t& t : g_rename_times_ms) t -= 5001;
    claim("tandrelo-16.local", 9);
    claim("tandrelo-17.local", 9);
    EXPECT_EQ(16, g_conflict_count);
    EXPECT_STREQ("tandrelo-17", g_hostname);

    // Once the burst has left the 10 s window, renames are free again.
    for (std::uint64_t& t : g_rename_times_ms) t -= 10001;
    claim("tandrelo-17.local", 9);
    claim("tandrelo-18.local", 9);
    EXPECT_EQ(18, g_conflict_count);
}

}  // namespace
