#include <cstdlib>

#include "velk/oleauto.h"

// A zero-byte request still returns a distinct block, so a success is never null.
void* CoTaskMemAlloc(size_t cb) { return std::malloc(cb == 0 ? 1 : cb); }

// Null is accepted and ignored.
void CoTaskMemFree(void* pv) { std::free(pv); }
