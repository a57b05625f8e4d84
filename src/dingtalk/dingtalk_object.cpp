#include "dingtalk/dingtalk.hpp"

const char DingTalk_doc[] = "DingTalk(token, salt) -> DingTalk \n\n DingTalk Object\n\n";

PyObject* DingTalk_new(PyTypeObject* type, PyObject*, PyObject*) {
    qov::Ref instance = qov::Ref::steal(type->tp_alloc(type, 0));
    if (!instance) return nullptr;
    DingTalkObject* self = as_dingtalk(instance.get());
    for (PyObject** field : {&self->token, &self->secret}) {
        *field = PyUnicode_FromString("");
        if (*field == nullptr) return nullptr;  // dealloc releases the field already set
    }
    return instance.release();
}

int DingTalk_init(PyObject* object, PyObject* args, PyObject* kwargs) {
    static const char* kwlist[] = {"token", "secret", nullptr};
    PyObject *token = nullptr, *secret = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|UU", const_cast<char**>(kwlist), &token, &secret)) return -1;
    DingTalkObject* self = as_dingtalk(object);
    if (token != nullptr) qov::replace_field(self->token, qov::Ref::borrow(token));
    if (secret != nullptr) qov::replace_field(self->secret, qov::Ref::borrow(secret));
    return 0;
}
