#include "platform/coreimage/kernels/KernelSupport.h"

namespace platform::ci {

void registerGeometryFilters() {}

}  // namespace platform::ci
