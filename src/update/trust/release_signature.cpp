#include "update/trust/release_signature.h"

#include "core/base64.h"
#include "update/trust/ecdsa_p256.h"
#include "update/sha256.h"

namespace Orv {

std::optional<SignatureLine> FindSignatureLine(std::string_view text) {
    std::string_view body = text;
    if (!body.empty() && body.back() == '\n') {
        body.remove_suffix(1);
    }
    const size_t lineFeed = body.rfind('\n');
    const size_t start = lineFeed == std::string_view::npos ? 0 : lineFeed + 1;
    const std::string_view line = body.substr(start);
    if (!line.starts_with(kSignatureLineStart)) {
        return std::nullopt;
    }
    return SignatureLine{text.substr(0, start), line.substr(kSignatureLineStart.size())};
}

std::string_view UnsignedPart(std::string_view text) {
    const auto line = FindSignatureLine(text);
    return line ? line->signedText : text;
}

bool SignatureHolds(std::string_view text, std::string_view publicKeyBase64) {
    const auto line = FindSignatureLine(text);
    if (!line) {
        return false;
    }
    const auto signature = Base64Decode(line->base64);
    const auto publicKey = Base64Decode(publicKeyBase64);
    if (!signature || !publicKey || signature->size() != kP256SignatureSize) {
        return false;
    }
    const BcryptKey key = ImportP256PublicKey(*publicKey);
    const auto digest = Sha256Digest(line->signedText);
    return key && digest && VerifyP256(key.Get(), *digest, *signature);
}

} // namespace Orv
