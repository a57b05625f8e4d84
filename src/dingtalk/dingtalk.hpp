// The DingTalk class: instance layout and every function the type's tables point to.
#pragma once

#include "common/interp.hpp"
#include "transport/http_request.hpp"

// The robot's own quota of messages a minute (a macro too, for the signature line).
#define QOV_DEFAULT_PER_MINUTE 20

// Settings that hold no interpreter object, checked when they are set.
struct DingTalkLimits {
    double timeout = kDefaultTimeoutSeconds;  // seconds for the whole of one transfer; 0: no limit
    int per_minute = QOV_DEFAULT_PER_MINUTE;  // sends per robot token in any 60 s within the process; 0: no pacing
};

struct DingTalkObject {
    PyObject_HEAD
    PyObject* token;
    PyObject* secret;
    PyObject* trace;  // never null: True, False, None, a text stream or a logging.Logger
    DingTalkLimits limits;
};

inline DingTalkObject* as_dingtalk(PyObject* self) { return reinterpret_cast<DingTalkObject*>(self); }

extern const char DingTalk_doc[];

// Object and lifecycle
PyObject* DingTalk_new(PyTypeObject* type, PyObject* args, PyObject* kwargs);
int DingTalk_init(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* DingTalkObject_get_timeout(PyObject* self, void* closure);
int DingTalkObject_set_timeout(PyObject* self, PyObject* value, void* closure);
PyObject* DingTalkObject_get_per_minute(PyObject* self, void* closure);
int DingTalkObject_set_per_minute(PyObject* self, PyObject* value, void* closure);
PyObject* DingTalkObject_get_trace(PyObject* self, void* closure);
int DingTalkObject_set_trace(PyObject* self, PyObject* value, void* closure);

// Messages. Each reads its arguments by position or by the parameter names of
// its doc string's first line.
PyObject* DingTalk_send_text(PyObject* self, PyObject* args, PyObject* kwargs);
inline constexpr char DingTalk_send_text_doc[] =
    "send_text($self, /, content)\n--\n\n"
    "Send a text message to the robot. Returns the robot's reply text.";

PyObject* DingTalk_send_markdown(PyObject* self, PyObject* args, PyObject* kwargs);
inline constexpr char DingTalk_send_markdown_doc[] =
    "send_markdown($self, /, title, text, mobiles=...)\n--\n\n"
    "Send a markdown message to the robot, mentioning the mobile numbers of the\n"
    "list mobiles when given. Returns the robot's reply text.";
