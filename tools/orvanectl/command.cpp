#include "orvanectl/command.h"

#include "core/base64.h"
#include "core/command_line.h"
#include "core/text.h"
#include "orvanectl/web_source.h"
#include "update/trust/ecdsa_p256.h"

#include <fmt/xchar.h>

#include <algorithm>
#include <limits>
#include <optional>

namespace Orv::Publisher {
namespace {

// About a hundred years: a signed release that should never expire is published without the option.
constexpr int32_t kMostValidDays = 36500;

bool IsHelp(const std::wstring& arg) {
    return SameOption(arg, L"--help") || SameOption(arg, L"-h") || arg == L"/?";
}

// A whole number from 0 to 2147483647 written with digits only.
std::optional<int32_t> ReadRelease(const std::wstring& text) {
    if (text.empty() || text.size() > 10) {
        return std::nullopt;
    }
    int64_t value = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9') {
            return std::nullopt;
        }
        value = value * 10 + (c - L'0');
    }
    if (value > std::numeric_limits<int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<int32_t>(value);
}

// Manifest values are single lines between tabs.
bool IsManifestValue(const std::wstring& text) {
    for (const wchar_t c : text) {
        if (c < L' ' || c == 0x7F) {
            return false;
        }
    }
    return true;
}

// The command's table: what each one is called, takes and is parsed by. Parsers see the words and the
// options after the command word; the options every command takes are read before them.
class OptionReader;
using CommandParser = Outcome<Ok> (*)(const OptionReader& reader, Command& command);

struct CommandRow {
    CommandKind kind;
    const wchar_t* name;
    std::vector<const wchar_t*> options;  // options with a value
    std::vector<const wchar_t*> switches; // options without one
    bool json;                            // --json is taken
    CommandParser parse;
};

const std::vector<CommandRow>& Commands();

const CommandRow* FindCommand(const std::wstring& name) {
    for (const CommandRow& row : Commands()) {
        if (SameOption(name, row.name)) {
            return &row;
        }
    }
    return nullptr;
}

bool IsQuiet(const std::wstring& arg) {
    return SameOption(arg, L"--quiet") || SameOption(arg, L"-q");
}

bool IsVersion(const std::wstring& arg) {
    return SameOption(arg, L"--version") || SameOption(arg, L"-V");
}

// Splits "--name=value" and "--name value" options from the words, and reads the options every command
// takes (--quiet, --json) as it goes.
class OptionReader {
public:
    explicit OptionReader(const std::vector<std::wstring>& args) : args_(args) {}

    // Reads the options and words after the command word. The failure message is the usage error.
    Outcome<Ok> Read(const CommandRow& row) {
        bool wordsOnly = false;
        for (size_t i = 1; i < args_.size(); ++i) {
            const std::wstring& arg = args_[i];
            if (wordsOnly || !arg.starts_with(L"-") || arg == L"-") {
                words.push_back(arg);
                continue;
            }
            if (arg == L"--") {
                wordsOnly = true;
                continue;
            }
            const size_t equals = arg.find(L'=');
            const std::wstring name = arg.substr(0, equals);
            const bool json = SameOption(name, L"--json");
            const wchar_t* option = IsQuiet(name) ? L"--quiet" : json ? L"--json" : nullptr;
            for (const wchar_t* k : row.switches) {
                if (SameOption(name, k)) {
                    option = k;
                }
            }
            if (json && !row.json) {
                return Failure(fmt::format(L"{} has no --json output", row.name));
            }
            if (option != nullptr) {
                if (equals != std::wstring::npos) {
                    return Failure(fmt::format(L"{} takes no value", option));
                }
                common.quiet = common.quiet || option == std::wstring_view(L"--quiet");
                common.json = common.json || json;
                given.push_back(option);
                continue;
            }
            for (const wchar_t* k : row.options) {
                if (SameOption(name, k)) {
                    option = k;
                }
            }
            if (option == nullptr) {
                return Failure(fmt::format(L"unknown option \"{}\"", name));
            }
            if (equals != std::wstring::npos) {
                values.emplace_back(option, arg.substr(equals + 1));
            } else if (i + 1 < args_.size()) {
                values.emplace_back(option, args_[++i]);
            } else {
                return Failure(fmt::format(L"{} needs a value", option));
            }
        }
        return Success();
    }

    // The value of an option that may be given once.
    Outcome<std::optional<std::wstring>> Single(const wchar_t* option) const {
        std::optional<std::wstring> found;
        for (const auto& [name, value] : values) {
            if (name == std::wstring_view(option)) {
                if (found) {
                    return Outcome<std::optional<std::wstring>>::Failure(
                        fmt::format(L"{} is given more than once", option));
                }
                found = value;
            }
        }
        return Outcome<std::optional<std::wstring>>::Success(found);
    }

    // Whether the switch was given (once or more).
    bool Has(const wchar_t* option) const {
        return std::any_of(given.begin(), given.end(),
                           [&](const wchar_t* name) { return std::wstring_view(name) == option; });
    }

    // Fails unless exactly `wanted` words were given; `missing` says what is lacking.
    Outcome<Ok> Words(size_t wanted, const wchar_t* missing) const {
        if (words.size() < wanted) {
            return Failure(missing);
        }
        if (words.size() > wanted) {
            return Failure(fmt::format(L"unexpected argument \"{}\"", words[wanted]));
        }
        return Success();
    }

    std::vector<std::wstring> words;
    std::vector<std::pair<std::wstring, std::wstring>> values; // option as listed, value
    std::vector<const wchar_t*> given;                         // switches as listed
    CommonOptions common;

private:
    const std::vector<std::wstring>& args_;
};

Outcome<Ok> ParsePublish(const OptionReader& reader, Command& command) {
    if (auto words = reader.Words(2, L"publish needs the game folder and the mirror root"); !words) {
        return words;
    }
    PublishRequest& request = command.publish;
    request.gameFolder = reader.words[0];
    request.mirrorRoot = reader.words[1];
    request.packs = !reader.Has(L"--no-packs");
    request.force = reader.Has(L"--force");

    struct Text {
        const wchar_t* option;
        std::wstring* target;
        bool required;
    };
    std::wstring release;
    std::wstring validDays;
    for (const Text& text :
         {Text{L"--release", &release, true}, Text{L"--client-version", &request.clientVersion, false},
          Text{L"--server", &request.server, false}, Text{L"--launch", &request.launch, false},
          Text{L"--notes", &request.notes, false}, Text{L"--launcher", &request.launcherFile, false},
          Text{L"--sign", &request.signingKeyFile, false}, Text{L"--valid-days", &validDays, false}}) {
        auto value = reader.Single(text.option);
        if (!value) {
            return Failure(value.message);
        }
        if (!*value.value) {
            if (text.required) {
                return Failure(fmt::format(L"publish needs {}", text.option));
            }
            continue;
        }
        if ((*value.value)->empty() || !IsManifestValue(**value.value)) {
            return Failure(fmt::format(L"{} needs a non-empty value on one line", text.option));
        }
        *text.target = **value.value;
    }
    if (request.clientVersion.find(L' ') != std::wstring::npos) {
        return Failure(
            L"--client-version cannot hold a space: the game reads its version only up to the first one");
    }
    const auto number = ReadRelease(release);
    if (!number) {
        return Failure(
            fmt::format(L"--release needs a whole number from 0 to 2147483647, not \"{}\"", release));
    }
    request.release = *number;
    if (!validDays.empty()) {
        const auto days = ReadRelease(validDays);
        if (!days || *days < 1 || *days > kMostValidDays) {
            return Failure(fmt::format(L"--valid-days needs a whole number of days from 1 to {}, not \"{}\"",
                                       kMostValidDays, validDays));
        }
        if (request.signingKeyFile.empty()) {
            return Failure(L"--valid-days needs --sign: only a signed release can expire");
        }
        request.validDays = *days;
    }
    for (const auto& [name, value] : reader.values) {
        if (name == L"--keep") {
            if (value.empty()) {
                return Failure(L"--keep needs a pattern");
            }
            request.keep.push_back(value);
        }
    }
    return Success();
}

Outcome<Ok> ParseKey(const OptionReader& reader, Command& command) {
    auto key = reader.Single(L"--key");
    if (!key) {
        return Failure(key.message);
    }
    if (*key.value) {
        command.publicKey = WideToUtf8(**key.value);
        const auto bytes = Base64Decode(command.publicKey);
        if (!bytes || bytes->size() != kP256PublicKeySize) {
            return Failure(L"--key needs the public key line that \"orvanectl keygen\" printed");
        }
    }
    return Success();
}

// verify <mirror root or URL> [--key K] [--quick]
Outcome<Ok> ParseVerify(const OptionReader& reader, Command& command) {
    if (auto key = ParseKey(reader, command); !key) {
        return key;
    }
    if (auto words = reader.Words(1, L"verify needs the mirror root or URL"); !words) {
        return words;
    }
    command.mirrorRoot = reader.words[0];
    command.quick = reader.Has(L"--quick");
    if (command.quick && !IsWebAddress(command.mirrorRoot)) {
        return Failure(L"--quick needs the mirror's http:// or https:// URL");
    }
    return Success();
}

// pull <URL> <folder> [--key K]
Outcome<Ok> ParsePull(const OptionReader& reader, Command& command) {
    if (auto key = ParseKey(reader, command); !key) {
        return key;
    }
    if (auto words = reader.Words(2, L"pull needs the mirror's URL and the folder"); !words) {
        return words;
    }
    command.mirrorRoot = reader.words[0];
    command.folder = reader.words[1];
    if (!IsWebAddress(command.mirrorRoot)) {
        return Failure(L"pull needs the mirror's http:// or https:// URL first");
    }
    return Success();
}

Outcome<Ok> ParseUpdate(const OptionReader& reader, Command& command) {
    if (auto words = reader.Words(1, L"update needs the game folder"); !words) {
        return words;
    }
    command.gameFolder = reader.words[0];
    command.repair = reader.Has(L"--repair");
    return Success();
}

Outcome<Ok> ParseKeygen(const OptionReader& reader, Command& command) {
    if (auto words = reader.Words(1, L"keygen needs the private key file"); !words) {
        return words;
    }
    command.keyFile = reader.words[0];
    return Success();
}

Outcome<Ok> ParseSign(const OptionReader& reader, Command& command) {
    if (auto words = reader.Words(2, L"sign needs the mirror root and the private key file"); !words) {
        return words;
    }
    command.mirrorRoot = reader.words[0];
    command.keyFile = reader.words[1];
    return Success();
}

const std::vector<CommandRow>& Commands() {
    static const std::vector<CommandRow> commands{
        {CommandKind::Publish,
         L"publish",
         {L"--release", L"--client-version", L"--server", L"--launch", L"--notes", L"--launcher", L"--keep",
          L"--sign", L"--valid-days"},
         {L"--no-packs", L"--force"},
         false,
         ParsePublish},
        {CommandKind::Verify, L"verify", {L"--key"}, {L"--quick"}, true, ParseVerify},
        {CommandKind::Pull, L"pull", {L"--key"}, {}, false, ParsePull},
        {CommandKind::Update, L"update", {}, {L"--repair"}, true, ParseUpdate},
        {CommandKind::Keygen, L"keygen", {}, {}, false, ParseKeygen},
        {CommandKind::Sign, L"sign", {}, {}, false, ParseSign},
    };
    return commands;
}

} // namespace

Outcome<Command> ParseCommand(const std::vector<std::wstring>& args) {
    using Result = Outcome<Command>;
    if (args.empty()) {
        return Result::Failure(L"no command given");
    }
    Command command;
    const CommandRow* row = FindCommand(args[0]);
    // "orvanectl help publish" and "orvanectl publish ... --help" show that command's help; a help option
    // anywhere before "--" wins over whatever else is wrong with the line.
    if (SameOption(args[0], L"help") || IsHelp(args[0])) {
        const CommandRow* topic = args.size() > 1 ? FindCommand(args[1]) : nullptr;
        command.helpTopic = topic != nullptr ? topic->kind : CommandKind::Help;
        return Result::Success(std::move(command));
    }
    for (const std::wstring& arg : args) {
        if (arg == L"--") {
            break;
        }
        if (IsHelp(arg)) {
            command.helpTopic = row != nullptr ? row->kind : CommandKind::Help;
            return Result::Success(std::move(command));
        }
    }
    if (args.size() == 1 && IsVersion(args[0])) {
        command.kind = CommandKind::Version;
        return Result::Success(std::move(command));
    }
    if (row == nullptr) {
        return Result::Failure(fmt::format(L"unknown command \"{}\"", args[0]));
    }
    OptionReader reader(args);
    if (auto read = reader.Read(*row); !read) {
        return Result::Failure(read.message);
    }
    command.kind = row->kind;
    command.common = reader.common;
    if (auto parsed = row->parse(reader, command); !parsed) {
        return Result::Failure(parsed.message);
    }
    return Result::Success(std::move(command));
}

const wchar_t* CommandName(CommandKind kind) {
    for (const CommandRow& row : Commands()) {
        if (row.kind == kind) {
            return row.name;
        }
    }
    return L"";
}

} // namespace Orv::Publisher
