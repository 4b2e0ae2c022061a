// Module definitions of the public extension and the private test extension.
#pragma once

#include <span>

#include "binding/table.hpp"

namespace tarnvel::py {

inline constexpr const char* kVersion = "0.4.1";

// The definition of module `id`, whose functions are `rows` in that order (the private
// test module sorts its rows by name).
PyModuleDef* module_def(ModuleId id, std::span<const TableRow> rows);

// Checks every row against the function it points to (name, parameter count, listed
// once); false with SystemError set at the first bad row.
bool check_table(std::span<const TableRow> rows);

// Calls the function `name` of module `id`'s table as this library copy holds it (the
// private test module uses it to run public functions on its own engine). NULL with an
// exception set on failure, or LookupError for an unknown name.
PyObject* call_registered(ModuleId id, const char* name, PyObject* const* argv, Py_ssize_t nargs);

}  // namespace tarnvel::py
