// get: a GET of any path under the base URL.
#include "cloudflare/call_snapshot.hpp"
#include "cloudflare/request.hpp"

PyObject* Cloudflare_get(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* kwlist[] = {"path", nullptr};
    const char* path = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|s:get", const_cast<char**>(kwlist), &path)) return nullptr;
    std::optional<std::string> wanted;
    if (path != nullptr) wanted = path;
    std::optional<CloudflareCall> call = read_call(as_cloudflare(self));
    if (!call) return nullptr;
    return response_tuple(request(*call, "GET", wanted, std::nullopt)).release();
}
