#include "cloudflare/cloudflare.hpp"

PyObject* Cloudflare_query(PyObject*, PyObject*, PyObject*) {
    return qov::raise(PyExc_NotImplementedError, "not available yet");
}

