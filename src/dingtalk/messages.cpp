#include "dingtalk/dingtalk.hpp"

PyObject* DingTalk_send_text(PyObject*, PyObject*, PyObject*) {
    return qov::raise(PyExc_NotImplementedError, "not available yet");
}

PyObject* DingTalk_send_markdown(PyObject*, PyObject*, PyObject*) {
    return qov::raise(PyExc_NotImplementedError, "not available yet");
}
