// The time limits and counts that scripts set on both classes, read from
// interpreter objects and checked once, when they are set.
#pragma once

#include "common/interp.hpp"

namespace qov {

// Seconds from an int or a float: 0 or more and finite. Raises TypeError for
// anything that is not a number and ValueError for a negative, NaN or
// infinite one, naming `what`.
std::optional<double> seconds_from(PyObject* value, const char* what);

// A count from an int: from 0 to INT_MAX. Raises TypeError for anything that
// is not an int and ValueError for a negative or too large one, naming `what`.
std::optional<int> count_from(PyObject* value, const char* what);

// Setter bodies: store the checked value, or raise and leave `field` as it was.
// A deletion (null `value`) raises TypeError: the setting has no absent state.
int set_seconds(double& field, PyObject* value, const char* what);
int set_count(int& field, PyObject* value, const char* what);

}  // namespace qov
