#include "platform/coreimage/kernels/KernelSupport.h"

namespace platform::ci {

void registerAutoAdjustFilters() {}

}  // namespace platform::ci
