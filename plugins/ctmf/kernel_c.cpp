// Baseline build of the median filters: the reference behaviour.
#include "kernel.h"
#include "kernel_impl.h"

ORVO_CTMF_DEFINE(c, false)
