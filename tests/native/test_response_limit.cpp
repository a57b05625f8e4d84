// The write callback keeps a body up to its limit and ends the transfer past it.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "transport/write_callback.hpp"

namespace {

struct LimitCase {
    std::string name;
    std::size_t limit;
    std::vector<std::size_t> chunks;
    std::size_t kept;        // bytes in the buffer afterwards
    std::size_t accepted;    // chunks taken before one was refused
    bool too_large;
};

void PrintTo(const LimitCase& c, std::ostream* out) { *out << c.name; }

class ResponseLimitTest : public ::testing::TestWithParam<LimitCase> {};

TEST_P(ResponseLimitTest, KeepsUpToTheLimit) {
    const LimitCase& c = GetParam();
    ResponseBuffer buffer;
    buffer.limit = c.limit;
    std::size_t accepted = 0;
    for (std::size_t size : c.chunks) {
        std::string chunk(size, 'x');
        if (write_callback(chunk.data(), 1, size, &buffer) != size) break;
        ++accepted;
    }
    EXPECT_EQ(buffer.data.size(), c.kept);
    EXPECT_EQ(accepted, c.accepted);
    EXPECT_EQ(buffer.too_large, c.too_large);
    EXPECT_LE(buffer.data.capacity(), c.limit);  // growth never reserves past the limit
}

INSTANTIATE_TEST_SUITE_P(
    Chunks, ResponseLimitTest,
    ::testing::Values(LimitCase{"under", 100, {30, 30, 30}, 90, 3, false},
                      LimitCase{"exactly_the_limit", 100, {60, 40}, 100, 2, false},
                      LimitCase{"one_byte_over", 100, {60, 40, 1}, 100, 2, true},
                      LimitCase{"a_chunk_that_crosses", 100, {60, 41, 1}, 60, 1, true},
                      LimitCase{"a_first_chunk_too_large", 100, {101}, 0, 0, true},
                      LimitCase{"empty_chunks", 100, {0, 0, 100, 0}, 100, 4, false}),
    [](const auto& info) { return info.param.name; });

TEST(ResponseLimit, IsSixtyFourMebibytes) { EXPECT_EQ(kMaxResponseBytes, 64u * 1024 * 1024); }

}  // namespace
