#include "cloudflare/response_type.hpp"

#include <structmember.h>

#include "common/call_scope.hpp"

namespace {

// The action lives in a third item that the tuple does not count (its size
// stays 2), the way structseq keeps its fields beyond the sequence: equality,
// hashing, unpacking and repr see the pair only. Every instance is made here
// with that item (tuple.__new__ refuses this type), and the type cannot be
// subclassed, so no other layout reaches the functions below.
constexpr Py_ssize_t kVisible = 2;

PyObject*& hidden_action(PyObject* self) { return reinterpret_cast<PyTupleObject*>(self)->ob_item[kVisible]; }

qov::Ref new_response(PyTypeObject* type, PyObject* status, PyObject* body, PyObject* action) {
    qov::Ref self = qov::Ref::steal(type->tp_alloc(type, kVisible + 1));
    if (!self) return {};
    PyTupleObject* tuple = reinterpret_cast<PyTupleObject*>(self.get());
    tuple->ob_item[0] = Py_NewRef(status);
    tuple->ob_item[1] = Py_NewRef(body);
    tuple->ob_item[2] = Py_NewRef(action);
    Py_SET_SIZE(self.get(), kVisible);
    return self;
}

PyObject* Response_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* kwlist[] = {"status", "body", "action", nullptr};
    PyObject *status = nullptr, *body = nullptr, *action = Py_None;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|O:Response", const_cast<char**>(kwlist), &status, &body,
                                     &action)) {
        return nullptr;
    }
    return new_response(type, status, body, action).release();
}

void Response_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    Py_CLEAR(hidden_action(self));
    PyTuple_Type.tp_dealloc(self);  // the pair, and the memory
    Py_DECREF(type);
}

int Response_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(hidden_action(self));
    return PyTuple_Type.tp_traverse(self, visit, arg);
}

PyObject* Response_get_status(PyObject* self, void*) { return Py_NewRef(PyTuple_GET_ITEM(self, 0)); }
PyObject* Response_get_body(PyObject* self, void*) { return Py_NewRef(PyTuple_GET_ITEM(self, 1)); }
PyObject* Response_get_action(PyObject* self, void*) { return Py_NewRef(hidden_action(self)); }

PyObject* Response_get_ok(PyObject* self, void*) {
    PyObject* status = PyTuple_GET_ITEM(self, 0);
    if (!PyLong_CheckExact(status)) Py_RETURN_FALSE;  // the not-found pairs' "404"
    const long value = PyLong_AsLong(status);
    if (value == -1 && PyErr_Occurred()) return nullptr;
    return PyBool_FromLong(value >= 200 && value <= 299);
}

PyObject* Response_json(PyObject* self, PyObject*) {
    qov::Ref json = qov::Ref::steal(PyImport_ImportModule("json"));
    if (!json) return nullptr;
    return PyObject_CallMethod(json.get(), "loads", "O", PyTuple_GET_ITEM(self, 1));
}

PyObject* Response_reduce(PyObject* self, PyObject*) {
    return Py_BuildValue("O(OOO)", Py_TYPE(self), PyTuple_GET_ITEM(self, 0), PyTuple_GET_ITEM(self, 1),
                         hidden_action(self));
}

PyGetSetDef Response_getset[] = {
    {"status", Response_get_status, nullptr, "The HTTP status; libcurl's code after a failed transfer", nullptr},
    {"body", Response_get_body, nullptr, "The answer's text; libcurl's message after a failed transfer", nullptr},
    {"ok", Response_get_ok, nullptr, "Whether the status is an integer from 200 to 299", nullptr},
    {"action", Response_get_action, nullptr,
     "What dns_ensured_record wrote: 'created', 'updated', 'deleted', 'unchanged' or 'absent'; "
     "None for other methods",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef Response_methods[] = {
    {"json", Response_json, METH_NOARGS, "json($self, /)\n--\n\nThe body parsed as JSON (json.loads)."},
    {"__reduce__", Response_reduce, METH_NOARGS, "__reduce__($self, /)\n--\n\nPickling support."},
    {nullptr, nullptr, 0, nullptr},
};

constexpr char Response_doc[] =
    "Response(status, body, action=None)\n--\n\n"
    "The (status, body) result of a Cloudflare method: a tuple equal to the plain\n"
    "pair, with .status, .body, .ok, .json() and, for dns_ensured_record, .action.";

template <typename Function>
void* slot(Function function) {
    return reinterpret_cast<void*>(function);
}

PyType_Slot Response_slots[] = {
    {Py_tp_doc, const_cast<char*>(Response_doc)},
    {Py_tp_new, slot(Response_new)},
    {Py_tp_dealloc, slot(Response_dealloc)},
    {Py_tp_traverse, slot(Response_traverse)},
    {Py_tp_getset, Response_getset},
    {Py_tp_methods, Response_methods},
    {0, nullptr},
};

}  // namespace

PyType_Spec Response_spec = {"qov.Response", 0, 0,
                             Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE, Response_slots};

qov::Ref make_response(qov::Ref status, qov::Ref body, const char* action) {
    if (!status || !body) return {};
    qov::Ref action_text = action != nullptr ? qov::Ref::steal(PyUnicode_InternFromString(action))
                                             : qov::Ref::borrow(Py_None);
    if (!action_text) return {};
    const qov::CallScope* call = qov::CallScope::current();
    if (call == nullptr || call->classes() == nullptr || call->classes()->response == nullptr) {
        return qov::Ref::steal(PyTuple_Pack(2, status.get(), body.get()));
    }
    return new_response(call->classes()->response, status.get(), body.get(), action_text.get());
}
