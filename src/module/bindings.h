// Registration of the helpers on the private context object used by tests.
// Each subsystem binds its own helpers in its folder's bind.cpp.
#pragma once

#include <pybind11/pybind11.h>

#include "module/context.h"

namespace orvo {

using ContextClass = pybind11::class_<Context, std::shared_ptr<Context>>;

void bind_format(ContextClass &cls);
void bind_ops(ContextClass &cls);
void bind_masks(ContextClass &cls);
void bind_filters(ContextClass &cls);
void bind_tools(ContextClass &cls);

} // namespace orvo
