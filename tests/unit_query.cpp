// The query handler driven directly, for senders that real sockets cannot
// produce.
#include <gtest/gtest.h>

#include "core/state.h"
#include "responder/responder.h"
#include "support/test_net.h"

TEST(QueryHandler, PortZeroSenderWithUnicastBitCountsTheAnswerButSendsNothing)
{
    lock_init();
    test_socket own, group;
    ASSERT_TRUE(own.open(21901, false, 300));
    ASSERT_TRUE(group.open(21902, true, 300));
    g_port = 21902;
    g_sock = own.s;  // replies would leave through this socket
    bytes q = make_query(1, {{"tandrelo.local", 1, 0x8001}});
    plat_addr4 nobody = {plat_ipv4_addr("127.0.0.1"), 0};
    process_incoming(q.data(), q.size(), nobody);
    EXPECT_EQ(1u, g_queries_received);
    EXPECT_EQ(1u, g_answers_sent);
    EXPECT_TRUE(group.receive().empty());
    g_sock = plat_invalid_socket;
}

TEST(QueryHandler, WithoutAResponderSocketRepliesAreCountedAndNothingLeaves)
{
    lock_init();
    bytes q = make_query(1, {{"tandrelo.local", 1, 1}});
    plat_addr4 sender = {plat_ipv4_addr("127.0.0.1"), plat_htons(9)};
    process_incoming(q.data(), q.size(), sender);
    EXPECT_EQ(1u, g_answers_sent);
}
