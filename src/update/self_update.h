#pragma once
#include "update/downloader.h"
#include "update/manifest.h"
#include "update/update_progress.h"

#include <stop_token>

namespace Orv {

// Replaces the running launcher with the manifest's launcher entry (kind 's') when they differ, and
// starts the successor with "--updated". True when the successor runs and this launcher must end;
// false when nothing was replaced (the run goes on with this launcher).
bool SelfUpdate(const Manifest& manifest, const UpdateParams& params, const Downloader& downloader,
                UpdateProgress& progress, std::stop_token stopToken);

} // namespace Orv
