#pragma once
#include "core/outcome.h"

#include <string>
#include <string_view>

// The publisher's release signing key: an ECDSA P-256 key pair made with the system's CNG provider.
// The private key file is text: the line kSigningKeyHeader, then the base64 of X || Y || d.
namespace Orv::Publisher {

inline constexpr std::string_view kSigningKeyHeader = "orvane release signing key (ECDSA P-256)";

struct SigningKey {
    std::string privateKey; // X || Y || d
    std::string publicKey;  // base64 of X || Y: the launcher's ORV_RELEASE_KEY
};

// Makes a new key pair and writes the private key to the file, which must not exist yet (an existing
// file is never overwritten). Returns the key.
Outcome<SigningKey> MakeSigningKey(const std::wstring& privateKeyFile);

// Reads a private key file written by MakeSigningKey.
Outcome<SigningKey> ReadSigningKey(const std::wstring& privateKeyFile);

// The manifest text signed: the text without any signature line it ends in (with a line feed added
// when its last line has none), followed by a new signature line.
Outcome<std::string> SignManifestText(std::string_view text, const SigningKey& key);

} // namespace Orv::Publisher
