// Quantization parameter sets and the one-Expr linear conversion between two
// quantizations (sample type, depth, range).
#pragma once

#include <string>

#include "module/context.h"

namespace orvo {

// floor, neutral, ceil and range of one plane; ints for integer samples,
// floats for float samples.
struct QuantParams {
    Num floor, neutral, ceil, range;
};

// Checked form: None arguments take their defaults (integer, 8 bits, full,
// luma); errors carry `func` as prefix.
QuantParams quantization_parameters(py::handle sample, py::handle depth, py::handle full, py::handle chroma,
                                    const std::string &func);

// The helper as the context exposes it: a dict with the four keys.
py::dict _quantization_parameters(Context &ctx, py::object sample = py::none(), py::object depth = py::none(),
                                  py::object full = py::none(), py::object chroma = py::none(),
                                  py::object funcName = py::str("_quantization_parameters"));

py::object _quantization_conversion(Context &ctx, py::object clip, py::object depths = py::none(),
                                    py::object depthd = py::none(), py::object sample = py::none(),
                                    py::object fulls = py::none(), py::object fulld = py::none(),
                                    py::object chroma = py::none(), py::object clamp = py::none(),
                                    py::object dbitPS = py::none(), py::object mode = py::none(),
                                    py::object funcName = py::str("_quantization_conversion"));

namespace quant {

// Small argument helpers shared with the depth converter.
using vs::truthy;
// An int argument as int64, saturated for values the host holds beyond it.
int64_t to_i64(py::handle obj);
// Format facts of a clip; a clip of variable format is refused by name.
vs::Format clip_format(py::handle clip, const std::string &func);

} // namespace quant

} // namespace orvo
