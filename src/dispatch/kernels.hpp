// The dispatcher: builds the one kernel table (simd/kernel_table.hpp) once per process,
// from the portable fillers up to active_target() (cpu.hpp). Nothing else picks kernels.
#pragma once

#include "simd/kernel_table.hpp"

namespace tarnvel::dispatch {

using simd::FillFn;
using simd::KernelFiller;
using simd::KernelTable;

const KernelTable& kernels();

}  // namespace tarnvel::dispatch
