// The dispatcher: builds the one kernel table (kernel_table.hpp) once per process, from
// the portable fill function up to active_target() (cpu.hpp). Nothing else picks kernels.
#pragma once

#include "dispatch/kernel_table.hpp"

namespace tarnvel::dispatch {

const KernelTable& kernels();

}  // namespace tarnvel::dispatch
