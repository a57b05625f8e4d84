// The _qov module: the two class types, their tables, and the module's
// multi-phase initialisation. Each interpreter that imports it gets its own
// module object, module state and type objects.
#include "common/interp.hpp"  // Python.h comes before every other header

#include <structmember.h>

#include <exception>
#include <new>
#include <string>

#include "cloudflare/cloudflare.hpp"
#include "cloudflare/response_type.hpp"
#include "common/call_scope.hpp"
#include "common/trace_writer.hpp"
#include "dingtalk/dingtalk.hpp"
#include "dingtalk/robot_reply.hpp"
#include "module/curl_global.hpp"
#include "module/gc_support.hpp"

namespace {

extern PyModuleDef module_def;  // defined below

// What one interpreter's module owns: its classes (strong references).
struct ModuleState {
    PyTypeObject* cloudflare;
    PyTypeObject* dingtalk;
    qov::ModuleClasses classes;
};

ModuleState* state_of(PyObject* module) { return static_cast<ModuleState*>(PyModule_GetState(module)); }

// The classes of the module that defined the type of `self` (a subclass's
// instance included), or null.
const qov::ModuleClasses* classes_of(PyObject* self) {
#if PY_VERSION_HEX >= 0x030B0000
    PyObject* module = PyType_GetModuleByDef(Py_TYPE(self), &module_def);  // borrowed
#else
    PyObject* module = nullptr;
    PyObject* mro = Py_TYPE(self)->tp_mro;
    for (Py_ssize_t i = 0; module == nullptr && mro != nullptr && i < PyTuple_GET_SIZE(mro); ++i) {
        PyTypeObject* base = reinterpret_cast<PyTypeObject*>(PyTuple_GET_ITEM(mro, i));
        if (!PyType_HasFeature(base, Py_TPFLAGS_HEAPTYPE)) continue;
        PyObject* defined_in = reinterpret_cast<PyHeapTypeObject*>(base)->ht_module;
        if (defined_in != nullptr && PyModule_GetDef(defined_in) == &module_def) module = defined_in;
    }
#endif
    if (module == nullptr) {
        PyErr_Clear();
        return nullptr;
    }
    return &state_of(module)->classes;
}

// Every method runs in a call scope: its results and exceptions are its
// module's classes, and its trace lines go where its object's trace says.
// No C++ exception may cross into the interpreter: a failed allocation inside
// a method becomes MemoryError. Not noexcept, so the forced unwind of a thread
// ended at interpreter shutdown (not an exception of ours) passes through.
template <typename Object, qov::MethodFunction F>
PyObject* guarded(PyObject* self, PyObject* args, PyObject* kwargs) {
    qov::CallScope scope(classes_of(self), &reinterpret_cast<Object*>(self)->trace);
    PyObject* result = nullptr;
    try {
        result = F(self, args, kwargs);
    } catch (const std::bad_alloc&) {
        result = PyErr_NoMemory();
    } catch (const std::exception& error) {
        result = qov::raise(PyExc_RuntimeError, error.what());
    }
    return scope.finish(result);
}

template <typename Object, qov::MethodFunction F>
constexpr PyMethodDef method(const char* name, const char* doc) {
    return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(guarded<Object, F>)),
            METH_VARARGS | METH_KEYWORDS, doc};
}

template <qov::MethodFunction F>
constexpr PyMethodDef cloudflare_method(const char* name, const char* doc) {
    return method<CloudflareObject, F>(name, doc);
}

template <qov::MethodFunction F>
constexpr PyMethodDef dingtalk_method(const char* name, const char* doc) {
    return method<DingTalkObject, F>(name, doc);
}

PyMethodDef Cloudflare_methods[] = {
    cloudflare_method<Cloudflare_fib>("fib", Cloudflare_fib_doc),
    cloudflare_method<Cloudflare_fputs>("fputs", Cloudflare_fputs_doc),
    cloudflare_method<Cloudflare_get>("get", Cloudflare_get_doc),
    cloudflare_method<Cloudflare_query>("query", Cloudflare_query_doc),
    cloudflare_method<Cloudflare_get_dns_records>("dns_get_records", Cloudflare_get_dns_records_doc),
    cloudflare_method<Cloudflare_create_dns_record>("dns_create_record", Cloudflare_create_dns_record_doc),
    cloudflare_method<Cloudflare_delete_dns_record>("dns_delete_record", Cloudflare_delete_dns_record_doc),
    cloudflare_method<Cloudflare_update_dns_record>("dns_update_record", Cloudflare_update_dns_record_doc),
    cloudflare_method<Cloudflare_ensure_dns_record>("dns_ensured_record", Cloudflare_ensure_dns_record_doc),
    cloudflare_method<Cloudflare_change_always_use_https>("change_always_use_https", Cloudflare_change_always_use_https_doc),
    cloudflare_method<Cloudflare_change_automatic_https_rewrites>("change_automatic_https_rewrites",
                                                       Cloudflare_change_automatic_https_rewrites_doc),
    cloudflare_method<Cloudflare_change_ssl_model>("change_ssl_model", Cloudflare_change_ssl_model_doc),
    cloudflare_method<Cloudflare_purge_cache>("purge_cache", Cloudflare_purge_cache_doc),
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef Cloudflare_members[] = {
    {"email", T_OBJECT_EX, offsetof(CloudflareObject, email), 0, "Cloudflare email"},
    {"account", T_OBJECT_EX, offsetof(CloudflareObject, account), 0, "Cloudflare account"},
    {"api_token", T_OBJECT_EX, offsetof(CloudflareObject, api_token), 0, "Cloudflare token"},
    {"api_url", T_OBJECT_EX, offsetof(CloudflareObject, api_url), 0, "Cloudflare default entry point url"},
    {nullptr, 0, 0, 0, nullptr},
};

constexpr const char* kTimeoutDoc = "Seconds one transfer may take, from connecting to the last byte; 0: no limit";

PyGetSetDef Cloudflare_getsetters[] = {
    {"zone", CloudflareObject_get_zone, CloudflareObject_set_zone, "The domain query() looked up last", nullptr},
    {"zone_id", CloudflareObject_get_zone_id, CloudflareObject_set_zone_id,
     "The id of the zone query() found, used by the zone's methods", nullptr},
    {"timeout", CloudflareObject_get_timeout, CloudflareObject_set_timeout, kTimeoutDoc, nullptr},
    {"max_retries", CloudflareObject_get_max_retries, CloudflareObject_set_max_retries,
     "How often a request is tried again after a 429, or a transient failure of a GET, PUT, PATCH or DELETE; "
     "0: never",
     nullptr},
    {"trace", CloudflareObject_get_trace, CloudflareObject_set_trace, kTraceDoc, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef DingTalk_methods[] = {
    dingtalk_method<DingTalk_send_text>("send_text", DingTalk_send_text_doc),
    dingtalk_method<DingTalk_send_markdown>("send_markdown", DingTalk_send_markdown_doc),
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef DingTalk_members[] = {
    {"token", T_OBJECT_EX, offsetof(DingTalkObject, token), 0, "DingTalk token"},
    {"secret", T_OBJECT_EX, offsetof(DingTalkObject, secret), 0, "DingTalk secret"},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef DingTalk_getsetters[] = {
    {"timeout", DingTalkObject_get_timeout, DingTalkObject_set_timeout, kTimeoutDoc, nullptr},
    {"per_minute", DingTalkObject_get_per_minute, DingTalkObject_set_per_minute,
     "Sends per robot token in any 60 seconds within the process; a send over it waits; 0: no pacing", nullptr},
    {"trace", DingTalkObject_get_trace, DingTalkObject_set_trace, kTraceDoc, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

template <typename Function>
void* slot(Function function) {
    return reinterpret_cast<void*>(function);
}

// Heap types cannot be changed from Python (as static types could not), may be
// subclassed, and take part in garbage collection.
constexpr unsigned int kTypeFlags =
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE;

PyType_Slot Cloudflare_slots[] = {
    {Py_tp_doc, const_cast<char*>(Cloudflare_doc)},
    {Py_tp_new, slot(Cloudflare_new)},
    {Py_tp_init, slot(Cloudflare_init)},
    {Py_tp_dealloc, slot(Cloudflare_dealloc)},
    {Py_tp_traverse, slot(Cloudflare_traverse)},
    {Py_tp_clear, slot(Cloudflare_clear)},
    {Py_tp_methods, Cloudflare_methods},
    {Py_tp_members, Cloudflare_members},
    {Py_tp_getset, Cloudflare_getsetters},
    {0, nullptr},
};

PyType_Spec Cloudflare_spec = {"qov.Cloudflare", sizeof(CloudflareObject), 0, kTypeFlags, Cloudflare_slots};

PyType_Slot DingTalk_slots[] = {
    {Py_tp_doc, const_cast<char*>(DingTalk_doc)},
    {Py_tp_new, slot(DingTalk_new)},
    {Py_tp_init, slot(DingTalk_init)},
    {Py_tp_dealloc, slot(DingTalk_dealloc)},
    {Py_tp_traverse, slot(DingTalk_traverse)},
    {Py_tp_clear, slot(DingTalk_clear)},
    {Py_tp_methods, DingTalk_methods},
    {Py_tp_members, DingTalk_members},
    {Py_tp_getset, DingTalk_getsetters},
    {0, nullptr},
};

PyType_Spec DingTalk_spec = {"qov.DingTalk", sizeof(DingTalkObject), 0, kTypeFlags, DingTalk_slots};

// Makes the type from its spec, keeps it in the state and publishes it under its short name.
int add_type(PyObject* module, PyType_Spec* spec, PyTypeObject*& kept, PyObject* base = nullptr) {
    kept = reinterpret_cast<PyTypeObject*>(PyType_FromModuleAndSpec(module, spec, base));
    if (kept == nullptr) return -1;
    return PyModule_AddType(module, kept);
}

// Makes the exception class qov.<name>, keeps it in the state and publishes it.
int add_exception(PyObject* module, const char* name, const char* doc, PyObject* bases, PyObject*& kept) {
    const std::string qualified = std::string("qov.") + name;
    kept = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, bases, nullptr);
    if (kept == nullptr) return -1;
    return PyModule_AddObjectRef(module, name, kept);
}

int add_exceptions(PyObject* module, qov::ModuleClasses& classes) {
    if (add_exception(module, "Error", "The base of the exceptions this module raises for its own reasons.",
                      PyExc_Exception, classes.error) < 0) {
        return -1;
    }
    qov::Ref no_zone_bases = qov::Ref::steal(PyTuple_Pack(2, classes.error, PyExc_TypeError));
    if (!no_zone_bases || add_exception(module, "NoZoneError",
                                        "No zone is remembered: query a domain first (a TypeError, as before).",
                                        no_zone_bases.get(), classes.no_zone) < 0) {
        return -1;
    }
    if (add_exception(module, "ZoneNotFoundError",
                      "The domain has no zone here, or its lookup failed (then the ZoneLookupError is the\n"
                      "__cause__); a TypeError, as before.",
                      no_zone_bases.get(), classes.zone_not_found) < 0) {
        return -1;
    }
    return add_exception(module, "ZoneLookupError",
                         "The zone lookup was not answered successfully: an error answer, or a failed\n"
                         "transfer. .domain is the domain looked up; .status and .body are the answer's\n"
                         "(libcurl's code and message after a failed transfer).",
                         classes.error, classes.zone_lookup);
}

int exec_module(PyObject* module) {
    if (!curl_global_ready()) {
        PyErr_SetString(PyExc_ImportError, "libcurl could not be initialised");
        return -1;
    }
    ModuleState* state = state_of(module);
    if (add_type(module, &Cloudflare_spec, state->cloudflare) < 0) return -1;
    // The signature line alone made an empty __doc__; the class has none.
    if (PyDict_SetItemString(state->cloudflare->tp_dict, "__doc__", Py_None) < 0) return -1;
    PyType_Modified(state->cloudflare);
    if (add_type(module, &DingTalk_spec, state->dingtalk) < 0) return -1;
    qov::ModuleClasses& classes = state->classes;
    if (add_type(module, &Response_spec, classes.response, reinterpret_cast<PyObject*>(&PyTuple_Type)) < 0 ||
        add_type(module, &RobotReply_spec, classes.robot_reply, reinterpret_cast<PyObject*>(&PyUnicode_Type)) < 0) {
        return -1;
    }
    return add_exceptions(module, classes);
}

int traverse_module(PyObject* module, visitproc visit, void* arg) {
    ModuleState* state = state_of(module);
    Py_VISIT(state->cloudflare);
    Py_VISIT(state->dingtalk);
    Py_VISIT(state->classes.error);
    Py_VISIT(state->classes.no_zone);
    Py_VISIT(state->classes.zone_not_found);
    Py_VISIT(state->classes.zone_lookup);
    Py_VISIT(state->classes.response);
    Py_VISIT(state->classes.robot_reply);
    return 0;
}

int clear_module(PyObject* module) {
    ModuleState* state = state_of(module);
    Py_CLEAR(state->cloudflare);
    Py_CLEAR(state->dingtalk);
    Py_CLEAR(state->classes.error);
    Py_CLEAR(state->classes.no_zone);
    Py_CLEAR(state->classes.zone_not_found);
    Py_CLEAR(state->classes.zone_lookup);
    Py_CLEAR(state->classes.response);
    Py_CLEAR(state->classes.robot_reply);
    return 0;
}

void free_module(void* module) { clear_module(static_cast<PyObject*>(module)); }

// Ready for an interpreter with its own lock: no interpreter object is shared
// between module objects, libcurl is set up once per process, and each thread
// has its own libcurl handle. Not ready to run without the GIL: the instances'
// fields are read and replaced without a lock of their own.
PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, slot(exec_module)},
#if PY_VERSION_HEX >= 0x030C0000
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
#endif
#if PY_VERSION_HEX >= 0x030D0000
    {Py_mod_gil, Py_MOD_GIL_USED},
#endif
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_qov",
    nullptr,  // no module doc string
    sizeof(ModuleState),
    nullptr,  // no module-level functions
    module_slots,
    traverse_module,
    clear_module,
    free_module,
};

}  // namespace

PyMODINIT_FUNC PyInit__qov() { return PyModuleDef_Init(&module_def); }
