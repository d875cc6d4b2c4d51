#include "module/bindings.h"

namespace orvo {

void bind_ops(ContextClass &) {}

} // namespace orvo
