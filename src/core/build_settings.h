#pragma once

// Values fixed when the launcher is built (CMake cache variables).
namespace Orv::BuildSettings {

extern const wchar_t* const kPrimaryMirror;
extern const wchar_t* const kFallbackMirror;
extern const wchar_t* const kProductUrl;
// The version of the launcher and of orvanectl, the project's version in CMakeLists.txt ("1.0.0").
extern const wchar_t* const kVersion;
// The base64 of the publisher's P-256 public key (X || Y); empty when releases need no signature.
// Defined in a unit of its own, so that a program can be linked with another key.
extern const char* const kReleaseKey;

} // namespace Orv::BuildSettings
