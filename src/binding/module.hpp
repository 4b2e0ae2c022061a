// Module definitions of the public extension and the private test extension.
#pragma once

#include "binding/table.hpp"

namespace tarnvel::py {

inline constexpr const char* kVersion = "0.4.1";

PyModuleDef* module_def(ModuleId id);

}  // namespace tarnvel::py
