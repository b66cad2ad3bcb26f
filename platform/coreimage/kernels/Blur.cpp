#include "platform/coreimage/kernels/KernelSupport.h"

namespace platform::ci {

void registerBlurFilters() {}

}  // namespace platform::ci
