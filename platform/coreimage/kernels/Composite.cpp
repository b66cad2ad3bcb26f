#include "platform/coreimage/kernels/KernelSupport.h"

namespace platform::ci {

void registerCompositeFilters() {}

}  // namespace platform::ci
