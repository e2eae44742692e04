#pragma once

// Values fixed when the launcher is built (CMake cache variables).
namespace Orv::BuildSettings {

extern const wchar_t* const kPrimaryMirror;
extern const wchar_t* const kFallbackMirror;
extern const wchar_t* const kProductUrl;

} // namespace Orv::BuildSettings
