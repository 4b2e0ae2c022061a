// Validation of NumPy output arrays (all NumPy C-API use is confined to ndarray.cpp).
#pragma once

#include "binding/table.hpp"

namespace tarnvel::py {

// Validates out for a 1-D (n = rows) or 2-D (rows x cols) result of uint32 or float64,
// in the fixed order: type, writable borrow, size or shape, contiguity. On success the
// buffer holds a reference and a borrow until it is written or destroyed. Returns false
// with a Python exception set (and nothing borrowed) on failure.
bool validate_out(PyObject* out, bool is_f64, bool two_d, std::size_t rows, std::size_t cols,
                  OutBuffer& buf);

}  // namespace tarnvel::py
