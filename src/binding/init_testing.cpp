// Entry point of the private test extension `_tarnvel_testing`, built only with
// TARNVEL_TESTING=ON. It exposes internal kernels and failure paths to the test suite.
#include "binding/module.hpp"
#include "binding/testing/rows.hpp"

namespace tarnvel::py {
namespace {

constexpr TableRow kTesting[] = {
    {"block_kernels", kAnyArity, &rows::block_kernels},
    {"block_pattern_info", kAnyArity, &rows::block_pattern_info},
    {"block_pattern_row", kAnyArity, &rows::block_pattern_row},
    {"check_table_rows", kAnyArity, &rows::check_table_rows},
    {"damerau_bytes", kAnyArity, &rows::damerau_bytes},
    {"engine_chunks", kAnyArity, &rows::engine_chunks},
    {"engine_fail", kAnyArity, &rows::engine_fail},
    {"engine_filter", kAnyArity, &rows::engine_filter},
    {"engine_info", kAnyArity, &rows::engine_info},
    {"engine_map", kAnyArity, &rows::engine_map},
    {"engine_paint_stacks", kAnyArity, &rows::engine_paint_stacks},
    {"engine_pieces", kAnyArity, &rows::engine_pieces},
    {"engine_scratch_cached", kAnyArity, &rows::engine_scratch_cached},
    {"engine_spin", kAnyArity, &rows::engine_spin},
    {"engine_stack_high_water", kAnyArity, &rows::engine_stack_high_water},
    {"indel_distance", kAnyArity, &rows::indel_distance},
    {"jaro_4way", kAnyArity, &rows::jaro_4way},
    {"jaro_8way", kAnyArity, &rows::jaro_8way},
    {"jaro_bitpar", kAnyArity, &rows::jaro_bitpar},
    {"jaro_multi", kAnyArity, &rows::jaro_multi},
    {"jaro_scalar_bytes", kAnyArity, &rows::jaro_scalar_bytes},
    {"jaro_scan", kAnyArity, &rows::jaro_scan},
    {"jaro_winkler_many_grouped", kAnyArity, &rows::jaro_winkler_many_grouped},
    {"myers_4way", kAnyArity, &rows::myers_4way},
    {"myers_4way_scalar", kAnyArity, &rows::myers_4way_scalar},
    {"myers_8way", kAnyArity, &rows::myers_8way},
    {"myers_distance", kAnyArity, &rows::myers_distance},
    {"myers_multi", kAnyArity, &rows::myers_multi},
    {"myers_pattern_info", kAnyArity, &rows::myers_pattern_info},
    {"pattern_limits", kAnyArity, &rows::pattern_limits},
    {"pattern_scores", kAnyArity, &rows::pattern_scores},
    {"probe_kinds", kAnyArity, &rows::probe_kinds},
    {"public_call", kAnyArity, &rows::public_call},
    {"raise_bad_alloc", kAnyArity, &rows::raise_bad_alloc},
    {"raise_panic", kAnyArity, &rows::raise_panic},
    {"raise_panic_nogil", kAnyArity, &rows::raise_panic_nogil},
    {"ratio_batch_section_seconds", kAnyArity, &rows::ratio_batch_section_seconds},
    {"set_pattern_limits", kAnyArity, &rows::set_pattern_limits},
    {"simd_info", kAnyArity, &rows::simd_info},
    {"winkler_prefix", kAnyArity, &rows::winkler_prefix},
};

}  // namespace
}  // namespace tarnvel::py

PyMODINIT_FUNC PyInit__tarnvel_testing(void) {
    return PyModuleDef_Init(
        tarnvel::py::module_def(tarnvel::py::ModuleId::testing_module, tarnvel::py::kTesting));
}
