#pragma once
#include "core/outcome.h"
#include "orvanectl/progress.h"
#include "orvanectl/verify.h"

#include <string>

namespace Orv::Publisher {

// Checks the mirror at the base URL as launchers meet it, with the launcher's HTTP client on twelve
// connections: the manifest (asked twice with different "?t=" values, which must give the same text)
// and everything VerifySource checks, each file by its size and SHA-256 as served; an answer with a
// Content-Encoding or an HTML page in place of a file is a problem. Unless `quick`, one object and one
// pack are also asked for a range: a wrong answer is a problem, the whole file with 200 a warning.
// Fails when the manifest cannot be fetched or parsed.
Outcome<VerifyReport> VerifyWebMirror(const std::wstring& baseUrl, const std::string& publicKey, bool quick,
                                      const LineSink& say);

} // namespace Orv::Publisher
