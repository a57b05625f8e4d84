// The _qov module: the two class types, their tables, and PyInit__qov.
#include "common/interp.hpp"  // Python.h comes before every other header

#include <curl/curl.h>
#include <structmember.h>

#include <exception>
#include <new>

#include "cloudflare/cloudflare.hpp"
#include "dingtalk/dingtalk.hpp"

namespace {

// No C++ exception may cross into the interpreter: a failed allocation inside
// a method becomes MemoryError. Not noexcept, so the forced unwind of a thread
// ended at interpreter shutdown (not an exception of ours) passes through.
template <qov::MethodFunction F>
PyObject* guarded(PyObject* self, PyObject* args, PyObject* kwargs) {
    try {
        return F(self, args, kwargs);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::exception& error) {
        return qov::raise(PyExc_RuntimeError, error.what());
    }
}

template <qov::MethodFunction F>
constexpr PyMethodDef method(const char* name, const char* doc) {
    return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(guarded<F>)),
            METH_VARARGS | METH_KEYWORDS, doc};
}

PyMethodDef Cloudflare_methods[] = {
    method<Cloudflare_fib>("fib", Cloudflare_fib_doc),
    method<Cloudflare_fputs>("fputs", Cloudflare_fputs_doc),
    method<Cloudflare_get>("get", Cloudflare_get_doc),
    method<Cloudflare_query>("query", Cloudflare_query_doc),
    method<Cloudflare_get_dns_records>("dns_get_records", Cloudflare_get_dns_records_doc),
    method<Cloudflare_create_dns_record>("dns_create_record", Cloudflare_create_dns_record_doc),
    method<Cloudflare_delete_dns_record>("dns_delete_record", Cloudflare_delete_dns_record_doc),
    method<Cloudflare_update_dns_record>("dns_update_record", Cloudflare_update_dns_record_doc),
    method<Cloudflare_ensure_dns_record>("dns_ensured_record", Cloudflare_ensure_dns_record_doc),
    method<Cloudflare_change_always_use_https>("change_always_use_https", Cloudflare_change_always_use_https_doc),
    method<Cloudflare_change_automatic_https_rewrites>("change_automatic_https_rewrites",
                                                       Cloudflare_change_automatic_https_rewrites_doc),
    method<Cloudflare_change_ssl_model>("change_ssl_model", Cloudflare_change_ssl_model_doc),
    method<Cloudflare_purge_cache>("purge_cache", Cloudflare_purge_cache_doc),
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef Cloudflare_members[] = {
    {"email", T_OBJECT_EX, offsetof(CloudflareObject, email), 0, "Cloudflare email"},
    {"account", T_OBJECT_EX, offsetof(CloudflareObject, account), 0, "Cloudflare account"},
    {"api_token", T_OBJECT_EX, offsetof(CloudflareObject, api_token), 0, "Cloudflare token"},
    {"api_url", T_OBJECT_EX, offsetof(CloudflareObject, api_url), 0, "Cloudflare default entry point url"},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef Cloudflare_getsetters[] = {
    {"zone", CloudflareObject_get_zone, CloudflareObject_set_zone, nullptr, nullptr},
    {"zone_id", CloudflareObject_get_zone_id, CloudflareObject_set_zone_id, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef DingTalk_methods[] = {
    method<DingTalk_send_text>("send_text", DingTalk_send_text_doc),
    method<DingTalk_send_markdown>("send_markdown", DingTalk_send_markdown_doc),
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef DingTalk_members[] = {
    {"token", T_OBJECT_EX, offsetof(DingTalkObject, token), 0, "DingTalk token"},
    {"secret", T_OBJECT_EX, offsetof(DingTalkObject, secret), 0, "DingTalk secret"},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef DingTalk_getsetters[] = {
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// A static type with every slot empty; fill_*_type sets the ones that are used.
PyTypeObject empty_static_type() {
    PyTypeObject type{};
    type.ob_base = PyVarObject{PyObject_HEAD_INIT(nullptr) 0};
    return type;
}

PyTypeObject CloudflareType = empty_static_type();
PyTypeObject DingTalkType = empty_static_type();

void fill_cloudflare_type() {
    CloudflareType.tp_name = "qov.Cloudflare";
    CloudflareType.tp_basicsize = sizeof(CloudflareObject);
    CloudflareType.tp_itemsize = 0;
    CloudflareType.tp_dealloc = Cloudflare_dealloc;
    CloudflareType.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
    CloudflareType.tp_methods = Cloudflare_methods;
    CloudflareType.tp_members = Cloudflare_members;
    CloudflareType.tp_getset = Cloudflare_getsetters;
    CloudflareType.tp_init = Cloudflare_init;
    CloudflareType.tp_new = Cloudflare_new;
}

void fill_dingtalk_type() {
    DingTalkType.tp_name = "qov.DingTalk";
    DingTalkType.tp_basicsize = sizeof(DingTalkObject);
    DingTalkType.tp_itemsize = 0;
    DingTalkType.tp_dealloc = DingTalk_dealloc;
    DingTalkType.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
    DingTalkType.tp_doc = DingTalk_doc;
    DingTalkType.tp_methods = DingTalk_methods;
    DingTalkType.tp_members = DingTalk_members;
    DingTalkType.tp_getset = DingTalk_getsetters;
    DingTalkType.tp_init = DingTalk_init;
    DingTalkType.tp_new = DingTalk_new;
}

PyModuleDef module = {PyModuleDef_HEAD_INIT, "_qov", nullptr, -1, nullptr, nullptr, nullptr, nullptr, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit__qov() {
    // libcurl's global set-up is not safe to race: do it once, under the
    // interpreter lock, before any thread can start a transfer.
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        return qov::raise(PyExc_ImportError, "libcurl could not be initialised");
    }
    fill_cloudflare_type();
    fill_dingtalk_type();
    if (PyType_Ready(&CloudflareType) < 0) return nullptr;
    if (PyType_Ready(&DingTalkType) < 0) return nullptr;

    qov::Ref mod = qov::Ref::steal(PyModule_Create2(&module, 1013));
    if (!mod) return nullptr;
    qov::Ref cloudflare = qov::Ref::borrow(reinterpret_cast<PyObject*>(&CloudflareType));
    qov::Ref dingtalk = qov::Ref::borrow(reinterpret_cast<PyObject*>(&DingTalkType));
    // PyModule_AddObject takes the reference over only when it succeeds.
    if (PyModule_AddObject(mod.get(), "Cloudflare", cloudflare.get()) < 0) return nullptr;
    (void)cloudflare.release();
    if (PyModule_AddObject(mod.get(), "DingTalk", dingtalk.get()) < 0) return nullptr;
    (void)dingtalk.release();
    return mod.release();
}
