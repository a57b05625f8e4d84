#include "module/gc_support.hpp"

#include <array>
#include <cstddef>

#include "cloudflare/cloudflare.hpp"
#include "dingtalk/dingtalk.hpp"

namespace {

// The one list of each struct's object fields. Any field a script can reach
// may end up in a reference cycle (a list in a member, a str subclass with a
// __dict__ in zone or proxy), so every one is listed. An object field added to
// a struct moves its plain `limits` and stops the build here until it is listed too.
std::array<PyObject**, 8> object_fields(CloudflareObject* self) {
    return {&self->email, &self->account, &self->api_token, &self->api_url,
            &self->zone,  &self->zone_id, &self->proxy,     &self->trace};
}
static_assert(offsetof(CloudflareObject, limits) == sizeof(PyObject) + 8 * sizeof(PyObject*),
              "CloudflareObject changed: list its object fields in object_fields()");

std::array<PyObject**, 3> object_fields(DingTalkObject* self) {
    return {&self->token, &self->secret, &self->trace};
}
static_assert(offsetof(DingTalkObject, limits) == sizeof(PyObject) + 3 * sizeof(PyObject*),
              "DingTalkObject changed: list its object fields in object_fields()");

template <typename Object>
int traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));  // an instance of a heap type holds a reference to its type
    for (PyObject** field : object_fields(reinterpret_cast<Object*>(self))) Py_VISIT(*field);
    return 0;
}

template <typename Object>
int clear(PyObject* self) {
    for (PyObject** field : object_fields(reinterpret_cast<Object*>(self))) Py_CLEAR(*field);
    return 0;
}

template <typename Object>
void dealloc(PyObject* self) {
    // Read while the instance's memory is still ours; the instance holds a reference to it.
    PyTypeObject* type = Py_TYPE(self);
    // Untracked before the fields go, so a collection that a release sets off
    // never visits a half-cleared instance.
    PyObject_GC_UnTrack(self);
    clear<Object>(self);
    type->tp_free(self);
    Py_DECREF(type);
}

}  // namespace

int Cloudflare_traverse(PyObject* self, visitproc visit, void* arg) {
    return traverse<CloudflareObject>(self, visit, arg);
}
int Cloudflare_clear(PyObject* self) { return clear<CloudflareObject>(self); }
void Cloudflare_dealloc(PyObject* self) { dealloc<CloudflareObject>(self); }

int DingTalk_traverse(PyObject* self, visitproc visit, void* arg) {
    return traverse<DingTalkObject>(self, visit, arg);
}
int DingTalk_clear(PyObject* self) { return clear<DingTalkObject>(self); }
void DingTalk_dealloc(PyObject* self) { dealloc<DingTalkObject>(self); }
