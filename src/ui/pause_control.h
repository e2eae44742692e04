#pragma once
#include "update/update_progress.h"

#include <cstdint>
#include <string>

namespace Orv {

// The Pause link: pausing asks the run to stop as closing the window does (what is downloaded in part
// stays); Resume, once the run has ended, starts a new run, which takes up the partly downloaded objects.
void OnPauseLinkPressed();

// Whether the window shows the run as paused: the player paused it and it has not come to an end of its
// own since.
bool ShowsPaused(Phase phase);

// Shows, hides and names the link for the phase: "Pause" while files download, "Resume" once a paused
// run has ended, nothing otherwise.
void RefreshPauseLink(Phase phase);

// "1.25 GB / 5.30 GB  ·  12 / 340 files": the detail line of a paused download.
std::wstring PausedDetailText(uint64_t bytesDone, uint64_t bytesTotal, uint64_t filesDone,
                              uint64_t filesTotal);

} // namespace Orv
