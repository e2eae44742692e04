#pragma once
#include "core/outcome.h"

#include <cstddef>
#include <functional>
#include <stop_token>

namespace Orv::Publisher {

// The number of worker threads: one per processor the system reports, at least 2.
unsigned WorkerCount();

// Runs work(0) .. work(count - 1) on `workers` threads, each item once. After the first failure no
// further item is started, running ones see a stop request, and that first failure is returned. A stop
// request of `cancel` does the same: no further item starts, running ones see it.
Outcome<Ok> RunOnWorkers(size_t count, unsigned workers,
                         const std::function<Outcome<Ok>(size_t index, std::stop_token stop)>& work,
                         std::stop_token cancel = {});

} // namespace Orv::Publisher
