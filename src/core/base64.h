#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace Orv {

// Base64 with the standard alphabet and "=" padding, four characters per three bytes.
std::string Base64Encode(std::string_view bytes);

// The bytes of a base64 text in exactly the form Base64Encode writes: standard alphabet, padded to a
// multiple of four, no white space, unused bits zero. Nothing for any other text.
std::optional<std::string> Base64Decode(std::string_view text);

} // namespace Orv
