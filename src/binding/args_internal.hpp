// Internal interface between the parser (args.cpp) and the module entry points.
#pragma once

#include "binding/table.hpp"

namespace tarnvel::py {

// Parses the fast-call vector against d and converts every argument in the fixed order.
// Returns false with a Python exception set.
bool parse_and_convert(const FuncDesc& d, PyObject* const* argv, Py_ssize_t nargs,
                       PyObject* kwnames, Args& a);

}  // namespace tarnvel::py
