#pragma once
#include <cstdint>
#include <string>

namespace Orv {

// The status lines an update run shows, in the UI language at the moment of the call; the window shows
// the first before the run has said anything.
std::wstring PreparingText();
std::wstring GettingVersionText();
std::wstring SelfUpdatingText();
std::wstring CheckingText(bool repair);
std::wstring DownloadingText(uint64_t files, uint64_t bytes);
std::wstring DoneText(bool downloaded);
// The player paused the download.
std::wstring PausedText();

// A failed run's status line: what failed, a line break, and why.
std::wstring UnreachableText(const std::wstring& reason);
std::wstring IncompleteText(const std::wstring& reason);
// A failed run's status line when the game folder's disk lacks room.
std::wstring NoSpaceText(uint64_t needed, uint64_t available);

// Why a manifest fetch fails when the mirror list is empty, and why an object transfer is retried
// after its connection broke off.
std::wstring NoServerText();
std::wstring InterruptedText();

} // namespace Orv
