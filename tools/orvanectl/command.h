#pragma once
#include "core/outcome.h"
#include "orvanectl/publish.h"

#include <string>
#include <vector>

namespace Orv::Publisher {

enum class CommandKind { Help, Publish, Verify, Update, Keygen, Sign };

struct Command {
    CommandKind kind = CommandKind::Help;
    PublishRequest publish;
    std::wstring mirrorRoot; // of verify and sign
    std::string publicKey;   // of verify: --key, the base64 of the key; empty when not given
    std::wstring gameFolder; // of update
    bool repair = false;     // of update
    std::wstring keyFile;    // of keygen and sign: the private key file
};

// The command the arguments (without the program's name) ask for. The failure message says what is
// wrong with them (bad usage).
Outcome<Command> ParseCommand(const std::vector<std::wstring>& args);

// The --help text.
const wchar_t* UsageText();

} // namespace Orv::Publisher
