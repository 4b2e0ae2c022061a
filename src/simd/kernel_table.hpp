// Forwarding header: the kernel table lives in dispatch/kernel_table.hpp.
#pragma once

#include "dispatch/kernel_table.hpp"

namespace tarnvel::simd {
using dispatch::FillFn;
using dispatch::KernelFiller;
using dispatch::KernelTable;
using dispatch::Target;
}  // namespace tarnvel::simd
