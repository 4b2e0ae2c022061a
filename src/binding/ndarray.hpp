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

// Element types of the companion package's arrays.
enum class ElemKind { u32, i64, f64, f32 };

// Borrows an ndarray of exactly `count` elements of `kind`, C-contiguous and aligned (and
// writable when `writable`), for direct reads or writes while the lock is released. The
// caller has already checked shape and dtype with Python-level messages; a failure here
// raises TypeError, or BufferError for a non-writable, non-contiguous or concurrently
// borrowed array. Writable arrays enter the borrow registry like `out` arrays do.
bool borrow_array(PyObject* arr, ElemKind kind, std::size_t count, bool writable, OutBuffer& buf);

}  // namespace tarnvel::py
