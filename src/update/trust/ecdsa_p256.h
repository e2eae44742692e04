#pragma once
#include "core/handles.h"

#include <cstddef>
#include <string_view>

// ECDSA on the NIST P-256 curve through the system's CNG provider.
namespace Orv {

inline constexpr size_t kP256CoordinateSize = 32;
// A public key is X || Y, a private key X || Y || d, a signature r || s: big-endian numbers of 32 bytes.
inline constexpr size_t kP256PublicKeySize = 2 * kP256CoordinateSize;
inline constexpr size_t kP256PrivateKeySize = 3 * kP256CoordinateSize;
inline constexpr size_t kP256SignatureSize = 2 * kP256CoordinateSize;

// The ECDSA P-256 provider, opened once per process and kept; null when the system has none.
BCRYPT_ALG_HANDLE EcdsaP256Provider();

// The key of a public (X || Y) or private (X || Y || d) key's bytes; empty when they are not one.
BcryptKey ImportP256PublicKey(std::string_view key);
BcryptKey ImportP256PrivateKey(std::string_view key);

// True when the signature (r || s) of the 32-byte digest holds under the key.
bool VerifyP256(BCRYPT_KEY_HANDLE key, std::string_view digest, std::string_view signature);

} // namespace Orv
