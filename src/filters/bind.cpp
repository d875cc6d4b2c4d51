#include "module/bindings.h"

namespace orvo {

void bind_filters(ContextClass &) {}

} // namespace orvo
