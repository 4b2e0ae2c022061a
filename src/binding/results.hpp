// Result builders: native values and vectors to new Python objects.
// Each returns a new reference or throws PyError (with the Python error set). Lists are
// created at their final length and filled by index.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace tarnvel::py {

PyObject* to_py_u64(std::uint64_t v);
PyObject* to_py_i64(std::int64_t v);
PyObject* to_py_f64(double v);
PyObject* to_py_str(std::string_view utf8);
PyObject* to_py_none();

PyObject* list_u32(std::span<const std::uint32_t> v);
PyObject* list_i64(std::span<const std::int64_t> v);
PyObject* list_f64(std::span<const double> v);
PyObject* matrix_u32(std::span<const std::vector<std::uint32_t>> rows);
PyObject* matrix_f64(std::span<const std::vector<double>> rows);

// A tuple built from new references (stolen); on failure all of them are released.
PyObject* tuple_of(std::span<PyObject* const> items);

}  // namespace tarnvel::py
