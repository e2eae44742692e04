#pragma once
#include "update/update_progress.h"

#include <stop_token>

namespace Orv {

// Free bytes kept on the disk beyond what the files need: 200 MiB.
inline constexpr uint64_t kDiskReserve = 209715200;

// One whole update: manifest, self-update, check, disk space, downloads, finishing. Reports only
// through the progress record; a stop request ends it quietly at the next test.
void UpdateRun(UpdateParams params, UpdateProgress& progress, std::stop_token stopToken);

// Free space needed for the download list: its sizes, the largest object and the reserve.
uint64_t SpaceNeeded(uint64_t listBytes, uint64_t largestObject);

} // namespace Orv
