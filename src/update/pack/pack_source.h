#pragma once
#include "update/downloader.h"
#include "update/manifest.h"
#include "update/pack/pack_index.h"

#include <cstddef>
#include <optional>
#include <stop_token>

namespace Orv {

// The run's pack index, when the manifest names one and it pays for the `packable` objects packs may
// hold: fetched like an object (verified by its SHA-256 and size, with the attempts over the mirrors) into
// the download folder, where a stopped run leaves it for the next one, then read. Nothing when the
// manifest names none, it does not pay, cannot be fetched or is refused: every object then comes loose,
// and the log says why. Its bytes count in the progress when they are fetched.
std::optional<PackIndex> LoadPackIndex(const Manifest& manifest, size_t packable,
                                       const Downloader& downloader, std::stop_token stopToken);

} // namespace Orv
