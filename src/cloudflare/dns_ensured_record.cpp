#include "cloudflare/cloudflare.hpp"

PyObject* Cloudflare_ensure_dns_record(PyObject*, PyObject*, PyObject*) {
    return qov::raise(PyExc_NotImplementedError, "not available yet");
}

