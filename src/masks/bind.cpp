#include "module/bindings.h"

namespace orvo {

void bind_masks(ContextClass &) {}

} // namespace orvo
