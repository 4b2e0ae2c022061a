// Internal interface between the parser (args.cpp) and the module entry points.
#pragma once

#include "binding/table.hpp"

namespace tarnvel::py {

// The parameter indices of one function grouped by conversion stage, computed once at
// module start so a call does not rediscover them.
struct CallPlan {
    std::uint8_t required = 0;  // parameters before the first one with a default
    std::uint8_t n_text = 0, n_scalar = 0, n_list = 0;
    std::int8_t out = -1;
    std::uint8_t text[8] = {}, scalar[8] = {}, list[2] = {};
};

CallPlan make_plan(const FuncDesc& d);

// Parses the fast-call vector against d and converts every argument in the fixed order.
// Returns false with a Python exception set.
bool parse_and_convert(const FuncDesc& d, const CallPlan& plan, PyObject* const* argv,
                       Py_ssize_t nargs, PyObject* kwnames, Args& a);

}  // namespace tarnvel::py
