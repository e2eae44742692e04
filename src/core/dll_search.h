#pragma once
#include "core/handles.h"
#include "core/outcome.h"

// Where the programs' DLLs come from.
//
// Windows looks for a DLL that is not one of its KnownDLLs in the program's own folder first. The
// launcher runs from folders that others can write to: the setup program from the browser's download
// folder, the uninstaller's copy from %TEMP%, the launcher from a game folder the mirror fills. So the
// programs import only KnownDLLs the ordinary way and delay-load every other DLL they use (src/delayload):
// none is loaded before the program runs. Their entry (core/process_entry.cpp) then makes System32 the
// only folder a DLL loaded by name comes from, before anything else runs.
namespace Orv {

// Makes System32 the only folder that DLLs loaded by name come from, for the whole process. Called once,
// by the process entry, before the C runtime starts; needs nothing of it.
void LimitDllSearch();

// The update engine's DLLs, loaded from System32 and kept loaded while the record lives.
struct SystemDlls {
    Module bcrypt;
    Module winhttp;
};

// Loads the update engine's DLLs from System32 at once, bcrypt.dll first. A DLL that is loaded is what
// every later request by its name gets, also one from a system DLL that looks beyond System32: Wine's
// WinHTTP, for one, loads crypt32 when a request ends, and crypt32 takes bcrypt.dll from the classic
// search order, the program's folder first. Fails, naming the call and its error, when the entry could
// not limit the DLL search or a DLL does not load: the programs do not go on then.
Outcome<SystemDlls> LoadSystemDlls();

} // namespace Orv
