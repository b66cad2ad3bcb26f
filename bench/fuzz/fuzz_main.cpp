// The libFuzzer entry of one target; FUZZ_TARGET names its function in FuzzTargets.h.
#include "bench/fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return fuzz::FUZZ_TARGET(data, size); }
