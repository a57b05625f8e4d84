#include "common/limit_values.hpp"

#include <climits>
#include <cmath>

namespace qov {

std::optional<double> seconds_from(PyObject* value, const char* what) {
    if (!PyFloat_Check(value) && !PyLong_Check(value)) {
        PyErr_Format(PyExc_TypeError, "%s should be a number of seconds (int or float), not %s", what,
                     Py_TYPE(value)->tp_name);
        return std::nullopt;
    }
    const double seconds = PyFloat_AsDouble(value);
    if (seconds == -1.0 && PyErr_Occurred()) return std::nullopt;  // an int too large for a float
    if (!std::isfinite(seconds) || seconds < 0) {
        PyErr_Format(PyExc_ValueError, "%s should be a finite number of seconds, 0 or more", what);
        return std::nullopt;
    }
    return seconds;
}

std::optional<int> count_from(PyObject* value, const char* what) {
    if (!PyLong_Check(value)) {
        PyErr_Format(PyExc_TypeError, "%s should be an int, not %s", what, Py_TYPE(value)->tp_name);
        return std::nullopt;
    }
    int overflow = 0;
    const long count = PyLong_AsLongAndOverflow(value, &overflow);
    if (count == -1 && PyErr_Occurred()) return std::nullopt;
    if (overflow != 0 || count < 0 || count > INT_MAX) {
        PyErr_Format(PyExc_ValueError, "%s should be from 0 to %d", what, INT_MAX);
        return std::nullopt;
    }
    return static_cast<int>(count);
}

namespace {

bool refuse_deletion(PyObject* value, const char* what) {
    if (value != nullptr) return false;
    PyErr_Format(PyExc_TypeError, "%s cannot be deleted", what);
    return true;
}

}  // namespace

int set_seconds(double& field, PyObject* value, const char* what) {
    if (refuse_deletion(value, what)) return -1;
    const std::optional<double> seconds = seconds_from(value, what);
    if (!seconds) return -1;
    field = *seconds;
    return 0;
}

int set_count(int& field, PyObject* value, const char* what) {
    if (refuse_deletion(value, what)) return -1;
    const std::optional<int> count = count_from(value, what);
    if (!count) return -1;
    field = *count;
    return 0;
}

}  // namespace qov
