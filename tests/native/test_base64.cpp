// The Base64 codec on its own: lengths, padding, one unbroken line, and the
// decoder's length estimate.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "dingtalk/base64.hpp"

namespace {

std::optional<std::string> encode(const std::string& bytes) {
    return Base64Encode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

struct EncodeCase {
    std::string input;
    std::string expected;
};

// Names each case by what it checks, instead of a dump of its bytes.
void PrintTo(const EncodeCase& c, std::ostream* out) { *out << c.input.size() << " bytes -> \"" << c.expected << '"'; }

class EncodeTest : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeTest, MatchesTheStandardAlphabetAndPadding) {
    const std::optional<std::string> text = encode(GetParam().input);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(*text, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Padding, EncodeTest,
                         ::testing::Values(EncodeCase{"", ""},                // empty input, empty text
                                           EncodeCase{"a", "YQ=="},           // one byte, two "="
                                           EncodeCase{"ab", "YWI="},          // two bytes, one "="
                                           EncodeCase{"abc", "YWJj"},         // three bytes, no "="
                                           EncodeCase{"abcd", "YWJjZA=="},
                                           EncodeCase{std::string("\xfb\xff\xbf", 3), "+/+/"},  // both symbols
                                           EncodeCase{std::string("\0\0", 2), "AAA="}));

TEST(Base64Encode, LengthIsFourPerStartedGroupOfThree) {
    for (std::size_t n = 0; n <= 100; ++n) {
        const std::optional<std::string> text = encode(std::string(n, 'x'));
        ASSERT_TRUE(text.has_value()) << n;
        EXPECT_EQ(text->size(), 4 * ((n + 2) / 3)) << n;
    }
}

TEST(Base64Encode, LongInputStaysOnOneLine) {
    for (std::size_t n : {48u, 49u, 64u, 1000u}) {
        const std::optional<std::string> text = encode(std::string(n, '\x7f'));
        ASSERT_TRUE(text.has_value()) << n;
        EXPECT_EQ(text->find('\n'), std::string::npos) << n;
        EXPECT_EQ(text->find('\r'), std::string::npos) << n;
    }
}

TEST(Base64Encode, DigestOf32BytesEndsInOnePaddingSign) {
    std::vector<unsigned char> digest(32);
    for (std::size_t i = 0; i < digest.size(); ++i) digest[i] = static_cast<unsigned char>(i * 37 + 11);
    const std::optional<std::string> text = Base64Encode(digest.data(), digest.size());
    ASSERT_TRUE(text.has_value());
    ASSERT_EQ(text->size(), 44u);
    EXPECT_EQ(text->back(), '=');
    EXPECT_NE((*text)[42], '=');
    EXPECT_EQ(text->find('\n'), std::string::npos);
}

struct LengthCase {
    std::string text;
    std::uint64_t expected;
};

void PrintTo(const LengthCase& c, std::ostream* out) { *out << '"' << c.text << "\" -> " << c.expected; }

class DecodeLengthTest : public ::testing::TestWithParam<LengthCase> {};

TEST_P(DecodeLengthTest, EstimatesFromLengthAndPadding) {
    EXPECT_EQ(calcDecodeLength(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, DecodeLengthTest,
                         ::testing::Values(LengthCase{"", 0}, LengthCase{"YWJj", 3}, LengthCase{"YWI=", 2},
                                           LengthCase{"YQ==", 1}, LengthCase{"YWJjZA==", 4},
                                           // never below zero
                                           LengthCase{"=", 0}, LengthCase{"==", 0}, LengthCase{"A", 0}));

TEST(Base64Decode, DecodesAbcIntoThreeBytesFollowedByZero) {
    const std::optional<std::string> bytes = Base64Decode("YWJj");
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(bytes->size(), 3u);
    EXPECT_EQ(*bytes, "abc");
    EXPECT_EQ(bytes->c_str()[3], '\0');
}

TEST(Base64Decode, MalformedTextShowsOnlyInTheCount) {
    const std::optional<std::string> bytes = Base64Decode("!!!!");
    ASSERT_TRUE(bytes.has_value());
    EXPECT_LT(bytes->size(), calcDecodeLength("!!!!"));
}

TEST(Base64Decode, RoundTripsEveryByteValue) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    for (std::size_t n : {0u, 1u, 2u, 3u, 31u, 32u, 33u, 256u}) {
        const std::string input = all.substr(0, n);
        const std::optional<std::string> text = encode(input);
        ASSERT_TRUE(text.has_value()) << n;
        const std::optional<std::string> back = Base64Decode(*text);
        ASSERT_TRUE(back.has_value()) << n;
        EXPECT_EQ(*back, input) << n;
    }
}

}  // namespace
