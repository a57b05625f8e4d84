// The quota headers (Ratelimit, Ratelimit-Policy) and the hold they put on a
// token's next request; the robot's message key.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <ostream>
#include <regex>
#include <string>

#include "cloudflare/quota_holds.hpp"
#include "dingtalk/message_key.hpp"
#include "transport/ratelimit.hpp"

namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

struct BackoffCase {
    const char* what;
    std::optional<std::string> ratelimit;
    std::optional<std::string> policy;
    std::optional<milliseconds> wait;  // empty: no hold
    std::int64_t remaining;
};

void PrintTo(const BackoffCase& c, std::ostream* out) { *out << c.what; }

class BackoffTest : public ::testing::TestWithParam<BackoffCase> {};

TEST_P(BackoffTest, HoldsOnlyAQuotaAtOrNearZero) {
    const BackoffCase& c = GetParam();
    const std::optional<QuotaHold> hold = quota_backoff(c.ratelimit, c.policy, 60s);
    ASSERT_EQ(hold.has_value(), c.wait.has_value());
    if (hold) {
        EXPECT_EQ(hold->wait, *c.wait);
        EXPECT_EQ(hold->remaining, c.remaining);
    }
}

const std::string kLive = R"("default";q=1200;w=300)";

INSTANTIATE_TEST_SUITE_P(
    Table, BackoffTest,
    ::testing::Values(
        BackoffCase{"spent", R"("default";r=0;t=30)", std::nullopt, 30s, 0},
        BackoffCase{"one left", R"("default";r=1;t=5)", std::nullopt, 5s, 1},
        BackoffCase{"a hundredth of the live quota", R"("default";r=12;t=40)", kLive, 40s, 12},
        BackoffCase{"more than a hundredth", R"("default";r=13;t=40)", kLive, std::nullopt, 0},
        BackoffCase{"another policy's quota", R"("default";r=12;t=40)", R"("burst";q=1200)", std::nullopt, 0},
        BackoffCase{"reset far past it", R"("default";r=0;t=99999999999999999999)", std::nullopt, 60s, 0},
        BackoffCase{"reset now", R"("default";r=0;t=0)", std::nullopt, std::nullopt, 0},
        BackoffCase{"the longest of two", R"("burst";r=0;t=3, "default";r=1;t=9, "day";r=50;t=80)", std::nullopt,
                    9s, 1},
        BackoffCase{"a token name, blanks, other parameters", R"( default ; x="a,b;c" ; r = 0 ; t = 4 )",
                    std::nullopt, 4s, 0},
        BackoffCase{"not integers", R"("default";r=-1;t=1.5)", std::nullopt, std::nullopt, 0},
        BackoffCase{"absent", std::nullopt, kLive, std::nullopt, 0}));

TEST(QuotaTraceLine, SaysHowLongAndHowManyAreLeft) {
    EXPECT_EQ(quota_trace_line(12500ms, 0), "ratelimit: waiting 12.5 s (0 requests left)\n");
    EXPECT_EQ(quota_trace_line(1s, 1), "ratelimit: waiting 1 s (1 request left)\n");
}

TEST(QuotaHolds, HoldATokenUntilTheLatestHoldEnds) {
    QuotaHolds holds;
    const QuotaHolds::Clock::time_point start = QuotaHolds::Clock::now();
    holds.hold("a", start + 5s, 1);
    holds.hold("a", start + 2s, 0);  // an earlier end does not shorten it
    holds.hold("b", start + 1s, 0);
    const std::optional<QuotaHolds::Hold> a = holds.pending("a", start + 1s);
    EXPECT_TRUE(a && a->wait == 4s && a->remaining == 1);
    EXPECT_FALSE(holds.pending("b", start + 1s));  // ended, and dropped
    EXPECT_EQ(holds.tokens_held(), 1U);
}

TEST(MessageKey, IsARandomVersionFourUuid) {
    EXPECT_EQ(message_key_text({}), "00000000-0000-4000-8000-000000000000");  // version and variant bits set
    const std::optional<std::string> first = new_message_key();
    ASSERT_TRUE(first);
    EXPECT_TRUE(std::regex_match(*first, std::regex("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")));
    EXPECT_NE(*first, new_message_key());
}

}  // namespace
