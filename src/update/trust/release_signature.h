#pragma once
#include <optional>
#include <string>
#include <string_view>

// A release is signed inside its manifest.txt: the last line is "#signature", a tab, the base64 of the
// 64-byte ECDSA P-256 signature (r || s) of the SHA-256 of every byte before that line, and a line
// feed. Readers of the format skip "#" lines, so the signature changes nothing for them.
namespace Orv {

inline constexpr std::string_view kSignatureLineStart = "#signature\t";

// The manifest text split before its last line, when that line is a signature line.
struct SignatureLine {
    std::string_view signedText; // every byte before the line
    std::string_view base64;     // the signature as written
};
std::optional<SignatureLine> FindSignatureLine(std::string_view text);

// The text without its signature line, when it ends in one; else the whole text.
std::string_view UnsignedPart(std::string_view text);

// True when the text's last line is a signature line whose signature holds under the public key
// (the base64 of X || Y). A key that is not one verifies nothing.
bool SignatureHolds(std::string_view text, std::string_view publicKeyBase64);

} // namespace Orv
