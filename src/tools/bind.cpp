#include "module/bindings.h"

namespace orvo {

void bind_tools(ContextClass &) {}

} // namespace orvo
