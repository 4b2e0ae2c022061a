// Parameter lists shared by several families' table rows.
#pragma once

#include "binding/table.hpp"

namespace tarnvel::py::params {

inline constexpr Param kPair[] = {{"a", Kind::text}, {"b", Kind::text}};
inline constexpr Param kPairCutoff[] = {
    {"a", Kind::text}, {"b", Kind::text}, {"score_cutoff", Kind::real, "0.0", 0.0}};
inline constexpr Param kBatch[] = {{"query", Kind::text}, {"candidates", Kind::text_list}};
inline constexpr Param kCdist[] = {{"list_a", Kind::text_list}, {"list_b", Kind::text_list}};
inline constexpr Param kBatchIntoU32[] = {
    {"query", Kind::text}, {"candidates", Kind::text_list}, {"out", Kind::out_u32_1d}};
inline constexpr Param kCdistIntoU32[] = {
    {"list_a", Kind::text_list}, {"list_b", Kind::text_list}, {"out", Kind::out_u32_2d}};

}  // namespace tarnvel::py::params
