// qov.RobotReply: what send_text and send_markdown return, a str equal to
// the reply text, with .ok, .errcode, .errmsg and .status.
#pragma once

#include "common/interp.hpp"

extern PyType_Spec RobotReply_spec;  // made with str as its base

// A new RobotReply of the running call's module (the plain str outside a
// call) of `text` (taken over) and the transfer's `status`: the HTTP status,
// or libcurl's code after a failed transfer. Null passes on an exception.
qov::Ref make_robot_reply(qov::Ref text, long status);
