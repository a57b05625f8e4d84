// The collector's view of the two instance types: traverse and clear over
// every field that holds an interpreter object, and the dealloc that goes
// with a collected heap type.
#pragma once

#include "common/interp.hpp"

int Cloudflare_traverse(PyObject* self, visitproc visit, void* arg);
int Cloudflare_clear(PyObject* self);
void Cloudflare_dealloc(PyObject* self);

int DingTalk_traverse(PyObject* self, visitproc visit, void* arg);
int DingTalk_clear(PyObject* self);
void DingTalk_dealloc(PyObject* self);
