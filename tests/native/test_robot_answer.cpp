// The robot's answer read from a reply text: only its own JSON answer counts.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "dingtalk/robot_answer.hpp"

namespace {

struct Row {
    std::string text;
    std::optional<std::int64_t> errcode;
    std::optional<std::string> errmsg;
};

class RobotAnswerTable : public ::testing::TestWithParam<Row> {};

TEST_P(RobotAnswerTable, ReadsOnlyTheRobotsOwnAnswer) {
    const RobotAnswer answer = read_robot_answer(GetParam().text);
    EXPECT_EQ(answer.errcode, GetParam().errcode);
    EXPECT_EQ(answer.errmsg, GetParam().errmsg);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, RobotAnswerTable,
    ::testing::Values(
        Row{R"({"errcode":0,"errmsg":"ok"})", 0, "ok"},
        Row{"{\"errcode\": 310000, \"errmsg\": \"sign not match\"}\n", 310000, "sign not match"},
        Row{R"({"errmsg":"ok","errcode":-1})", -1, "ok"},
        Row{R"({"errcode":130101})", 130101, std::nullopt},                   // no errmsg
        Row{R"({"errcode":0,"errmsg":null})", 0, std::nullopt},
        Row{R"({"errcode":"0","errmsg":"ok"})", std::nullopt, std::nullopt},  // not an integer
        Row{R"({"errcode":0.0,"errmsg":"ok"})", std::nullopt, std::nullopt},
        Row{R"({"errcode":true})", std::nullopt, std::nullopt},
        Row{R"([{"errcode":0}])", std::nullopt, std::nullopt},
        Row{R"({"errcode":0,"errmsg":"ok"} trailing)", std::nullopt, std::nullopt},
        Row{R"({"errcode":0,"errmsg":"ok")", std::nullopt, std::nullopt},    // cut short
        Row{"<html><body>502 Bad Gateway</body></html>", std::nullopt, std::nullopt},
        Row{"Couldn't connect to server", std::nullopt, std::nullopt},
        Row{"", std::nullopt, std::nullopt}));

}  // namespace
