#include "cloudflare/cloudflare.hpp"

PyObject* Cloudflare_get_dns_records(PyObject*, PyObject*, PyObject*) {
    return qov::raise(PyExc_NotImplementedError, "not available yet");
}

PyObject* Cloudflare_create_dns_record(PyObject*, PyObject*, PyObject*) {
    return qov::raise(PyExc_NotImplementedError, "not available yet");
}

PyObject* Cloudflare_delete_dns_record(PyObject*, PyObject*, PyObject*) {
    return qov::raise(PyExc_NotImplementedError, "not available yet");
}

PyObject* Cloudflare_update_dns_record(PyObject*, PyObject*, PyObject*) {
    return qov::raise(PyExc_NotImplementedError, "not available yet");
}

