// The DingTalk class: instance layout and every function the type's tables point to.
#pragma once

#include "common/interp.hpp"

struct DingTalkObject {
    PyObject_HEAD
    PyObject* token;
    PyObject* secret;
};

inline DingTalkObject* as_dingtalk(PyObject* self) { return reinterpret_cast<DingTalkObject*>(self); }

extern const char DingTalk_doc[];

// Object and lifecycle
PyObject* DingTalk_new(PyTypeObject* type, PyObject* args, PyObject* kwargs);
int DingTalk_init(PyObject* self, PyObject* args, PyObject* kwargs);

// Messages: each reads only the positional tuple; keywords are accepted and ignored.
PyObject* DingTalk_send_text(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* DingTalk_send_markdown(PyObject* self, PyObject* args, PyObject* kwargs);
