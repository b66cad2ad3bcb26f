#pragma once
// Row-band parallelism for the image kernels. Work is split into contiguous bands of
// indices; a kernel must compute every index from its inputs alone, so results are the
// same whatever the number of threads.
#include <functional>

namespace platform {

// Number of threads the kernels may use; 0 (the default) means one per hardware thread.
// Tests set 1 and N to prove results do not depend on it.
void setThreadCount(int count);
int threadCount();

// Calls fn(begin, end) on disjoint bands covering [first, last), in no fixed order. Bands
// run on separate threads when the work is large enough (cost = work units per index, used to keep
// small images on the calling thread). A call made from inside a band runs serially.
void parallelFor(int first, int last, const std::function<void(int, int)>& fn, double costPerIndex = 1.0);

}  // namespace platform
