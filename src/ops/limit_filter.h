// Limiting a filtered clip to the neighbourhood of its source: one Expr
// (default) or a difference clip limited through a look-up table.
#pragma once

#include <string>
#include <vector>

#include "module/context.h"

namespace orvo {

py::object LimitFilter(Context &ctx, py::object flt, py::object src, py::object ref = py::none(),
                       py::object thr = py::none(), py::object elast = py::none(),
                       py::object brighten_thr = py::none(), py::object thrc = py::none(),
                       py::object force_expr = py::none(), py::object planes = py::none());

// The per-plane expression; thresholds on the 8-bit scale, value_range the
// clip's peak (1 for float clips).
std::string _limit_filter_expr(bool defref, const Num &thr, const Num &elast, const Num &largen_thr,
                               const Num &value_range);

py::object _limit_diff_lut(Context &ctx, py::object diff, py::object thr, py::object elast, py::object largen_thr,
                           py::object planes);

// The table of _limit_diff_lut for a difference clip of `bits` bits; thresholds
// on the 8-bit scale. Entries are what MakeDiff later removes from flt.
std::vector<int64_t> limit_diff_table(int bits, const Num &thr, const Num &elast, const Num &largen_thr);

} // namespace orvo
