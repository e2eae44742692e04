#pragma once
#include "core/outcome.h"
#include "orvanectl/publish.h"

#include <string>
#include <vector>

namespace Orv::Publisher {

enum class CommandKind { Help, Publish, Verify, Update, Keygen, Sign, Pull };

struct Command {
    CommandKind kind = CommandKind::Help;
    PublishRequest publish;
    std::wstring mirrorRoot; // of verify and sign (verify: or a mirror's base URL); of pull the URL
    std::string publicKey;   // of verify and pull: --key, the base64 of the key; empty when not given
    bool quick = false;      // of verify: --quick
    std::wstring folder;     // of pull
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
