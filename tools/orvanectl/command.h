#pragma once
#include "core/outcome.h"
#include "orvanectl/publish.h"

#include <string>
#include <vector>

namespace Orv::Publisher {

enum class CommandKind { Help, Version, Publish, Verify, Update, Keygen, Sign, Pull };

// The options every command takes (command_help.cpp describes them).
struct CommonOptions {
    bool quiet = false; // --quiet, -q: only errors and the final summary line
    bool json = false;  // --json: the summary line as one JSON object (commands that have one)
};

struct Command {
    CommandKind kind = CommandKind::Help;
    // Of Help: the command whose help was asked for; Help itself for the overview.
    CommandKind helpTopic = CommandKind::Help;
    CommonOptions common;
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

// The name a command is given by on the command line ("publish"); empty for Help and Version.
const wchar_t* CommandName(CommandKind kind);

} // namespace Orv::Publisher
