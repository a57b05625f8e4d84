// fib and fputs: methods that make no request.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "cloudflare/cloudflare.hpp"

namespace {

struct FileClose {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

}  // namespace

// Fibonacci modulo 2^64 by fast doubling: F(2k) = F(k)(2F(k+1) - F(k)) and
// F(2k+1) = F(k)^2 + F(k+1)^2 hold in wrapping unsigned arithmetic, so every n
// takes at most 64 steps and no recursion.
std::uint64_t fib(std::uint64_t n) {
    std::uint64_t a = 0;  // F(k)
    std::uint64_t b = 1;  // F(k+1)
    for (int bit = 63; bit >= 0; --bit) {
        const std::uint64_t even = a * (2 * b - a);
        const std::uint64_t odd = a * a + b * b;
        if ((n >> bit) & 1U) {
            a = odd;
            b = even + odd;
        } else {
            a = even;
            b = odd;
        }
    }
    return a;
}

PyObject* Cloudflare_fib(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* kwlist[] = {"n", nullptr};
    unsigned long n = 0;  // "k" wraps modulo 2^64 instead of raising OverflowError
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "k:fib", const_cast<char**>(kwlist), &n)) return nullptr;
    return PyLong_FromUnsignedLongLong(fib(n));
}

// -1 unless the whole text reached the file: stdio buffers it, so a full disk
// (or /dev/full) shows only when the buffer is flushed or the file closed.
PyObject* Cloudflare_fputs(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* kwlist[] = {"path", "text", nullptr};
    const char* path = nullptr;
    const char* text = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "ss:fputs", const_cast<char**>(kwlist), &path, &text)) {
        return nullptr;
    }
    std::unique_ptr<std::FILE, FileClose> file(std::fopen(path, "w+"));
    if (!file) return PyErr_SetFromErrnoWithFilename(PyExc_OSError, path);
    int written = std::fputs(text, file.get());
    if (std::fflush(file.get()) != 0) written = EOF;
    if (std::fclose(file.release()) != 0) written = EOF;
    return PyLong_FromLong(written < 0 ? EOF : written);
}
