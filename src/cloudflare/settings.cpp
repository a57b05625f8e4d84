#include "cloudflare/cloudflare.hpp"

PyObject* Cloudflare_change_always_use_https(PyObject*, PyObject*, PyObject*) {
    return qov::raise(PyExc_NotImplementedError, "not available yet");
}

PyObject* Cloudflare_change_automatic_https_rewrites(PyObject*, PyObject*, PyObject*) {
    return qov::raise(PyExc_NotImplementedError, "not available yet");
}

PyObject* Cloudflare_change_ssl_model(PyObject*, PyObject*, PyObject*) {
    return qov::raise(PyExc_NotImplementedError, "not available yet");
}

PyObject* Cloudflare_purge_cache(PyObject*, PyObject*, PyObject*) {
    return qov::raise(PyExc_NotImplementedError, "not available yet");
}

