// What the robot's reply text says, read without the interpreter: the robot
// answers every message with {"errcode": <int>, "errmsg": <text>}; an HTTP
// error page or libcurl's message is not such an answer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct RobotAnswer {
    std::optional<std::int64_t> errcode;  // present only for the robot's own answer
    std::optional<std::string> errmsg;    // present when that answer has an errmsg text
};

// The answer in `text`: the whole text must be one JSON object with an
// integer errcode, or both fields stay empty.
RobotAnswer read_robot_answer(std::string_view text);
