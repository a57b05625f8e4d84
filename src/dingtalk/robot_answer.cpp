#include "dingtalk/robot_answer.hpp"

#include <climits>

#include "common/json_tree.hpp"

namespace {

struct TokenerFree {
    void operator()(json_tokener* tokener) const noexcept { json_tokener_free(tokener); }
};

}  // namespace

RobotAnswer read_robot_answer(std::string_view text) {
    RobotAnswer answer;
    if (text.size() > static_cast<std::size_t>(INT_MAX)) return answer;
    std::unique_ptr<json_tokener, TokenerFree> tokener(json_tokener_new());
    if (!tokener) return answer;
    json_tokener_set_flags(tokener.get(), JSON_TOKENER_STRICT);
    const int length = static_cast<int>(text.size());
    JsonPtr root(json_tokener_parse_ex(tokener.get(), text.data(), length));
    // Not JSON, cut short, or followed by more than blanks: not the robot's answer.
    if (!root || json_tokener_get_error(tokener.get()) != json_tokener_success) return answer;
    if (text.substr(json_tokener_get_parse_end(tokener.get())).find_first_not_of(" \t\r\n") != std::string_view::npos) {
        return answer;
    }
    json_object* errcode = nullptr;
    if (!json_object_is_type(root.get(), json_type_object) ||
        !json_object_object_get_ex(root.get(), "errcode", &errcode) || !json_object_is_type(errcode, json_type_int)) {
        return answer;
    }
    answer.errcode = json_object_get_int64(errcode);
    json_object* errmsg = nullptr;
    if (json_object_object_get_ex(root.get(), "errmsg", &errmsg) && json_object_is_type(errmsg, json_type_string)) {
        answer.errmsg.emplace(json_object_get_string(errmsg), static_cast<std::size_t>(json_object_get_string_len(errmsg)));
    }
    return answer;
}
