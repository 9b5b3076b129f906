#pragma once
// How many threads a worker pool runs: the one rule for the collection
// readers, the copiers, the verifiers and the LHA member preparers.
#include <algorithm>
#include <thread>

namespace tessarine {

// One thread per processor the system reports, but at least `least` and at
// most `most`; `least` when the count is unknown. The calling thread counts
// when it works along.
inline unsigned WorkerThreads(unsigned least, unsigned most) {
    return std::clamp(std::thread::hardware_concurrency(), least, most);
}

}  // namespace tessarine
