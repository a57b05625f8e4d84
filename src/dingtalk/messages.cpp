#include "dingtalk/dingtalk.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/json_tree.hpp"
#include "dingtalk/message_key.hpp"
#include "dingtalk/pacing.hpp"
#include "dingtalk/robot_reply.hpp"
#include "dingtalk/signing.hpp"
#include "common/perform.hpp"
#include "common/trace_writer.hpp"

namespace {

// A connection kept longer than this is not used for a message: the server may
// close it just as the message goes out, and the message would then be sent again.
constexpr long kLongestRobotIdleSeconds = 2;

// One credential field as UTF-8. The script may have deleted it or stored any
// object in it, and a NUL would silently cut the signing key or the URL short,
// so each of these raises instead.
std::optional<std::string> read_credential(PyObject* field, const char* name) {
    std::optional<std::string> text = qov::utf8_of_str(field, name);
    if (text && text->find('\0') != std::string::npos) {
        PyErr_Format(PyExc_ValueError, "%s must not contain NUL characters", name);
        return std::nullopt;
    }
    return text;
}

// What one send reads from its object.
struct Credentials {
    std::string secret;
    std::string token;
    DingTalkLimits limits;
};

// Read afresh at every send, so a changed token or secret takes effect at once.
std::optional<Credentials> read_credentials(DingTalkObject* self) {
    std::optional<std::string> secret = read_credential(self->secret, "secret");
    if (!secret) return std::nullopt;
    std::optional<std::string> token = read_credential(self->token, "token");
    if (!token) return std::nullopt;
    return Credentials{std::move(*secret), std::move(*token), self->limits};
}

// A send the pacer counted: once it ends (sent, failed or given up) it counts
// from then, the latest moment the robot can have received it.
struct CountedSend {
    const std::string& token;
    std::optional<SendPacer::Clock::time_point> counted_at{};
    ~CountedSend() {
        if (counted_at) robot_send_pacer().went_out(token, *counted_at, SendPacer::Clock::now());
    }
};

// Waits, with the lock released, until the robot's token may send again
// within its messages a minute; each wait writes a trace line. False with the
// exception set when a signal handler raised (Ctrl-C) meanwhile.
bool wait_for_turn(const Credentials& credentials, CountedSend& send) {
    SendPacer& pacer = robot_send_pacer();
    for (;;) {
        const SendPacer::Clock::time_point now = SendPacer::Clock::now();
        const SendPacer::Clock::duration wait = pacer.reserve(credentials.token, credentials.limits.per_minute, now);
        if (wait <= SendPacer::Clock::duration::zero()) {
            if (credentials.limits.per_minute > 0) send.counted_at = now;
            return true;
        }
        write_trace(pacing_trace_line(wait, credentials.limits.per_minute), TraceLevel::wait);
        if (!qov::pause(wait)) return false;
    }
}

// The mobile numbers of a markdown message, all checked before any is used, so
// a bad item leaves nothing printed or sent.
std::optional<std::vector<std::string>> read_mobiles(PyObject* mobiles) {
    if (!PyList_Check(mobiles)) {
        PyErr_Format(PyExc_TypeError, "mobiles should be a list of str, not %s", Py_TYPE(mobiles)->tp_name);
        return std::nullopt;
    }
    const Py_ssize_t count = PyList_GET_SIZE(mobiles);
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (!PyUnicode_Check(PyList_GET_ITEM(mobiles, i))) {
            qov::raise(PyExc_TypeError, "list items must be strings.");
            return std::nullopt;
        }
    }
    // Nothing below runs Python code, so the list cannot change under us.
    std::vector<std::string> numbers;
    numbers.reserve(static_cast<std::size_t>(count));
    for (Py_ssize_t i = 0; i < count; ++i) {
        std::optional<std::string> number = qov::utf8_of_str(PyList_GET_ITEM(mobiles, i), "mobiles item");
        if (!number) return std::nullopt;
        numbers.push_back(std::move(*number));
    }
    return numbers;
}

// {"msgtype": "text", "text": {"content": ...}}
JsonPtr text_message(std::string_view content) {
    JsonPtr message(json_object_new_object());
    if (!message || !add_member(message.get(), "msgtype", json_text("text")) ||
        !add_member(message.get(), "text", one_member_object("content", json_text(content)))) {
        return {};
    }
    return message;
}

// {"msgtype": "markdown", "markdown": {"title", "text"}, "at": {"isAtAll": false, "atMobiles": [...]}}
JsonPtr markdown_message(std::string_view title, std::string_view text, const std::vector<std::string>& mobiles) {
    JsonPtr markdown(json_object_new_object());
    if (!markdown || !add_member(markdown.get(), "title", json_text(title)) ||
        !add_member(markdown.get(), "text", json_text(text))) {
        return {};
    }
    JsonPtr numbers(json_object_new_array());
    if (!numbers) return {};
    for (const std::string& number : mobiles) {
        if (!add_item(numbers.get(), json_text(number))) return {};
    }
    JsonPtr at(json_object_new_object());
    if (!at || !add_member(at.get(), "isAtAll", JsonPtr(json_object_new_boolean(0))) ||
        !add_member(at.get(), "atMobiles", std::move(numbers))) {
        return {};
    }
    JsonPtr message(json_object_new_object());
    if (!message || !add_member(message.get(), "msgtype", json_text("markdown")) ||
        !add_member(message.get(), "markdown", std::move(markdown)) ||
        !add_member(message.get(), "at", std::move(at))) {
        return {};
    }
    return message;
}

// Posts the message, under a key of its own, and returns the reply, whatever
// its HTTP status, as a RobotReply. A reply that is not UTF-8 raises the decoding error.
PyObject* post_message(const std::string& url, const JsonPtr& message, double timeout) {
    if (!message) return PyErr_NoMemory();
    const std::optional<std::string> key = new_message_key();
    if (!key) return qov::raise(PyExc_RuntimeError, "no message key could be drawn");
    if (!add_member(message.get(), "msgUuid", json_text(*key))) return PyErr_NoMemory();
    const char* serialised = json_object_to_json_string(message.get());
    if (serialised == nullptr) return PyErr_NoMemory();
    debug("Data: %s\n", serialised);

    static const HeaderLines kHeaders{"Content-Type: application/json;charset=utf-8"};
    HttpRequest request{"POST", url, kHeaders, std::string(serialised), std::nullopt, read_request_environment()};
    request.timeout_seconds = timeout;
    request.max_idle_seconds = kLongestRobotIdleSeconds;
    const std::optional<HttpResult> result = qov::perform(request);
    if (!result) return nullptr;
    debug("Result: %s\n", result->body.c_str());
    return make_robot_reply(qov::Ref::steal(PyUnicode_DecodeUTF8(result->body.data(),
                                                                 static_cast<Py_ssize_t>(result->body.size()), "strict")),
                            shown_status(*result))
        .release();
}

// The signing lines written so far stay; nothing is sent.
PyObject* signing_failed() { return qov::raise(PyExc_RuntimeError, "the webhook URL could not be signed"); }

// "@a @b " for the trace only: the numbers reach the service through atMobiles.
void print_at_line(const std::vector<std::string>& mobiles) {
    std::string line = "At: ";
    for (const std::string& number : mobiles) {
        line += '@';
        line += number;
        line += ' ';
    }
    line += '\n';
    write_trace(line);
}

}  // namespace

PyObject* DingTalk_send_text(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* kwlist[] = {"content", nullptr};
    const char* content = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "s:send_text", const_cast<char**>(kwlist), &content)) {
        return nullptr;
    }
    const std::optional<Credentials> credentials = read_credentials(as_dingtalk(self));
    if (!credentials) return nullptr;
    CountedSend send{credentials->token};
    if (!wait_for_turn(*credentials, send)) return nullptr;

    const std::optional<std::string> url = get_signed_url(credentials->secret, credentials->token);
    if (!url) return signing_failed();
    return post_message(*url, text_message(content), credentials->limits.timeout);
}

PyObject* DingTalk_send_markdown(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* kwlist[] = {"title", "text", "mobiles", nullptr};
    const char* title = nullptr;
    const char* text = nullptr;
    PyObject* mobiles_object = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "ss|O:send_markdown", const_cast<char**>(kwlist), &title, &text,
                                     &mobiles_object)) {
        return nullptr;
    }
    const std::optional<Credentials> credentials = read_credentials(as_dingtalk(self));
    if (!credentials) return nullptr;
    std::vector<std::string> mobiles;
    if (mobiles_object != nullptr) {
        std::optional<std::vector<std::string>> given = read_mobiles(mobiles_object);
        if (!given) return nullptr;
        mobiles = std::move(*given);
        print_at_line(mobiles);
    }
    CountedSend send{credentials->token};
    if (!wait_for_turn(*credentials, send)) return nullptr;

    const std::optional<std::string> url = get_signed_url(credentials->secret, credentials->token);
    if (!url) return signing_failed();
    debug("send markdown: %s\n", title);
    debug("send markdown: %s\n", text);
    return post_message(*url, markdown_message(title, text, mobiles), credentials->limits.timeout);
}
