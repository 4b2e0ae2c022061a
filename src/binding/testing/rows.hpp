// The rows of the private test extension, each defined beside its impl; the table is in
// init_testing.cpp.
#pragma once

#include "binding/table.hpp"

namespace tarnvel::py::rows {

// binding/testing/engine_testing.cpp
extern const FuncDesc engine_chunks;
extern const FuncDesc engine_fail;
extern const FuncDesc engine_filter;
extern const FuncDesc engine_info;
extern const FuncDesc engine_map;
extern const FuncDesc engine_paint_stacks;
extern const FuncDesc engine_pieces;
extern const FuncDesc engine_scratch_cached;
extern const FuncDesc engine_spin;
extern const FuncDesc engine_stack_high_water;
extern const FuncDesc public_call;
extern const FuncDesc ratio_batch_section_seconds;
// binding/testing/foundation_testing.cpp
extern const FuncDesc indel_distance;
extern const FuncDesc probe_kinds;
extern const FuncDesc raise_bad_alloc;
extern const FuncDesc raise_panic;
extern const FuncDesc raise_panic_nogil;
extern const FuncDesc simd_info;
extern const FuncDesc check_table_rows;
// binding/testing/jaro_testing.cpp
extern const FuncDesc jaro_4way;
extern const FuncDesc jaro_8way;
extern const FuncDesc jaro_bitpar;
extern const FuncDesc jaro_multi;
extern const FuncDesc jaro_scalar_bytes;
extern const FuncDesc jaro_scan;
extern const FuncDesc jaro_winkler_many_grouped;
extern const FuncDesc winkler_prefix;
// binding/testing/levenshtein_testing.cpp
extern const FuncDesc damerau_bytes;
extern const FuncDesc myers_4way;
extern const FuncDesc myers_4way_scalar;
extern const FuncDesc myers_8way;
extern const FuncDesc myers_distance;
extern const FuncDesc myers_multi;
extern const FuncDesc myers_pattern_info;
// binding/testing/pattern_testing.cpp
extern const FuncDesc block_kernels;
extern const FuncDesc block_pattern_info;
extern const FuncDesc block_pattern_row;
extern const FuncDesc pattern_limits;
extern const FuncDesc pattern_scores;
extern const FuncDesc set_pattern_limits;

}  // namespace tarnvel::py::rows
