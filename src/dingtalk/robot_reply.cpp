#include "dingtalk/robot_reply.hpp"

#include <structmember.h>

#include <cstddef>

#include "common/call_scope.hpp"
#include "dingtalk/robot_answer.hpp"

namespace {

struct RobotReplyObject {
    PyUnicodeObject text;
    PyObject* errcode;  // int, or None when the text is not the robot's answer
    PyObject* errmsg;   // str or None
    PyObject* status;   // int
};

// The fields hold ints, strs and None only, which take part in no cycle: the
// type needs no garbage collection, as str does not.
int fill(PyObject* self, PyObject* text, PyObject* status) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size);
    if (utf8 == nullptr) return -1;
    const RobotAnswer answer = read_robot_answer(std::string_view(utf8, static_cast<std::size_t>(size)));
    RobotReplyObject* reply = reinterpret_cast<RobotReplyObject*>(self);
    reply->status = Py_NewRef(status);
    reply->errcode = answer.errcode ? PyLong_FromLongLong(*answer.errcode) : Py_NewRef(Py_None);
    if (reply->errcode == nullptr) return -1;
    reply->errmsg = answer.errmsg ? qov::lenient_str(*answer.errmsg).release() : Py_NewRef(Py_None);
    return reply->errmsg == nullptr ? -1 : 0;
}

qov::Ref new_reply(PyTypeObject* type, PyObject* text, PyObject* status) {
    qov::Ref args = qov::Ref::steal(PyTuple_Pack(1, text));
    if (!args) return {};
    qov::Ref self = qov::Ref::steal(PyUnicode_Type.tp_new(type, args.get(), nullptr));
    if (!self || fill(self.get(), text, status) < 0) return {};
    return self;
}

PyObject* RobotReply_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* kwlist[] = {"text", "status", nullptr};
    PyObject *text = nullptr, *status = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "UO!:RobotReply", const_cast<char**>(kwlist), &text,
                                     &PyLong_Type, &status)) {
        return nullptr;
    }
    return new_reply(type, text, status).release();
}

void RobotReply_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    RobotReplyObject* reply = reinterpret_cast<RobotReplyObject*>(self);
    Py_CLEAR(reply->errcode);
    Py_CLEAR(reply->errmsg);
    Py_CLEAR(reply->status);
    PyUnicode_Type.tp_dealloc(self);  // the text, and the memory
    Py_DECREF(type);
}

PyObject* RobotReply_get_ok(PyObject* self, void*) {
    PyObject* errcode = reinterpret_cast<RobotReplyObject*>(self)->errcode;
    if (errcode == Py_None) Py_RETURN_FALSE;
    const long long value = PyLong_AsLongLong(errcode);
    if (value == -1 && PyErr_Occurred()) return nullptr;
    return PyBool_FromLong(value == 0);
}

PyObject* RobotReply_reduce(PyObject* self, PyObject*) {
    qov::Ref text = qov::Ref::steal(PyUnicode_FromObject(self));  // the plain str
    if (!text) return nullptr;
    return Py_BuildValue("O(OO)", Py_TYPE(self), text.get(), reinterpret_cast<RobotReplyObject*>(self)->status);
}

PyMemberDef RobotReply_members[] = {
    {"errcode", T_OBJECT, offsetof(RobotReplyObject, errcode), READONLY,
     "The robot's errcode; None when the text is not the robot's JSON answer"},
    {"errmsg", T_OBJECT, offsetof(RobotReplyObject, errmsg), READONLY,
     "The robot's errmsg; None when the text is not the robot's JSON answer"},
    {"status", T_OBJECT, offsetof(RobotReplyObject, status), READONLY,
     "The HTTP status; libcurl's code after a failed transfer"},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef RobotReply_getset[] = {
    {"ok", RobotReply_get_ok, nullptr, "Whether the robot answered errcode 0", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef RobotReply_methods[] = {
    {"__reduce__", RobotReply_reduce, METH_NOARGS, "__reduce__($self, /)\n--\n\nPickling support."},
    {nullptr, nullptr, 0, nullptr},
};

constexpr char RobotReply_doc[] =
    "RobotReply(text, status)\n--\n\n"
    "The reply of a robot send: a str equal to the reply text, with .ok, .errcode,\n"
    ".errmsg and .status.";

template <typename Function>
void* slot(Function function) {
    return reinterpret_cast<void*>(function);
}

PyType_Slot RobotReply_slots[] = {
    {Py_tp_doc, const_cast<char*>(RobotReply_doc)},
    {Py_tp_new, slot(RobotReply_new)},
    {Py_tp_dealloc, slot(RobotReply_dealloc)},
    {Py_tp_members, RobotReply_members},
    {Py_tp_getset, RobotReply_getset},
    {Py_tp_methods, RobotReply_methods},
    {0, nullptr},
};

}  // namespace

PyType_Spec RobotReply_spec = {"qov.RobotReply", sizeof(RobotReplyObject), 0,
                               Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, RobotReply_slots};

qov::Ref make_robot_reply(qov::Ref text, long status) {
    if (!text) return {};
    const qov::CallScope* call = qov::CallScope::current();
    if (call == nullptr || call->classes() == nullptr || call->classes()->robot_reply == nullptr) return text;
    qov::Ref code = qov::Ref::steal(PyLong_FromLong(status));
    if (!code) return {};
    return new_reply(call->classes()->robot_reply, text.get(), code.get());
}
