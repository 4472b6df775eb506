// Assertions that stop a caller error in every build type, naming the source
// file, line, function and the failed condition (NDEBUG does not remove them).
#pragma once

#include <assert.h>

#define LB_ASSERT(expr) ((expr) ? void(0) : __assert_fail(#expr, __FILE__, __LINE__, __func__))
