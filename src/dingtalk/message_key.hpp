// The robot's idempotency key (msgUuid): the robot drops a message whose key
// it has already taken, so a request that libcurl sends again on a new
// connection, after the first one died before an answer, posts once.
#pragma once

#include <array>
#include <optional>
#include <string>

// A random (version 4) UUID in its text form, "xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx"
// in small letters; empty when the random generator fails.
std::optional<std::string> new_message_key();

// The text form of the UUID made of `bytes`, its version and variant bits set.
std::string message_key_text(std::array<unsigned char, 16> bytes);
