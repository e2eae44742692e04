#pragma once
#include "core/outcome.h"
#include "update/manifest.h"
#include "update/patch/patch_plan.h"

#include <stop_token>
#include <string>

namespace Orv {

// Builds the entry's file from the plan in one pass, in list order, into the staging file beside
// destPath: each chunk from the older file or from its downloaded chunk file. Counts and hashes what it
// writes and moves the staging file over destPath only when size and SHA-256 are the entry's. The older
// file is only read. On failure no staging file is left. A message with the fatal marker is a failure
// to write or move the file (or a stop), which the whole object would meet too: the message the whole
// object's placement gives. Any other message (English) says, for the log, why the chunks did not make
// the file: the caller then downloads the whole file.
Outcome<Ok> AssemblePatch(const PatchPlan& plan, const FileEntry& entry, const std::wstring& destPath,
                          const std::wstring& downloadFolder, std::stop_token stopToken);

} // namespace Orv
