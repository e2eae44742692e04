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

// Splits "--name=value" and "--name value" options from the words.
class OptionReader {
public:
    explicit OptionReader(const std::vector<std::wstring>& args) : args_(args) {}

    // Reads the options and words after the command word; `switches` are options without a value.
    // The failure message is the usage error.
    Outcome<Ok> Read(const std::vector<const wchar_t*>& known,
                     const std::vector<const wchar_t*>& switches = {}) {
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
            const wchar_t* option = nullptr;
            for (const wchar_t* k : switches) {
                if (SameOption(name, k)) {
                    option = k;
                }
            }
            if (option != nullptr) {
                if (equals != std::wstring::npos) {
                    return Failure(fmt::format(L"{} takes no value", option));
                }
                given.push_back(option);
                continue;
            }
            for (const wchar_t* k : known) {
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

    std::vector<std::wstring> words;
    std::vector<std::pair<std::wstring, std::wstring>> values; // option as listed, value
    std::vector<const wchar_t*> given;                         // switches as listed

private:
    const std::vector<std::wstring>& args_;
};

Outcome<Command> ParsePublish(const std::vector<std::wstring>& args) {
    using Result = Outcome<Command>;
    OptionReader reader(args);
    if (auto read = reader.Read({L"--release", L"--client-version", L"--server", L"--launch", L"--launcher",
                                 L"--keep", L"--sign", L"--valid-days"},
                                {L"--no-packs"});
        !read) {
        return Result::Failure(read.message);
    }
    if (reader.words.size() != 2) {
        return Result::Failure(reader.words.size() < 2
                                   ? L"publish needs the game folder and the mirror root"
                                   : fmt::format(L"unexpected argument \"{}\"", reader.words[2]));
    }
    Command command;
    command.kind = CommandKind::Publish;
    PublishRequest& request = command.publish;
    request.gameFolder = reader.words[0];
    request.mirrorRoot = reader.words[1];
    request.packs = !reader.Has(L"--no-packs");

    struct Text {
        const wchar_t* option;
        std::wstring* target;
        bool required;
    };
    std::wstring release;
    std::wstring validDays;
    for (const Text& text :
         {Text{L"--release", &release, true}, Text{L"--client-version", &request.clientVersion, true},
          Text{L"--server", &request.server, false}, Text{L"--launch", &request.launch, false},
          Text{L"--launcher", &request.launcherFile, false}, Text{L"--sign", &request.signingKeyFile, false},
          Text{L"--valid-days", &validDays, false}}) {
        auto value = reader.Single(text.option);
        if (!value) {
            return Result::Failure(value.message);
        }
        if (!*value.value) {
            if (text.required) {
                return Result::Failure(fmt::format(L"publish needs {}", text.option));
            }
            continue;
        }
        if ((*value.value)->empty() || !IsManifestValue(**value.value)) {
            return Result::Failure(fmt::format(L"{} needs a non-empty value on one line", text.option));
        }
        *text.target = **value.value;
    }
    if (request.clientVersion.find(L' ') != std::wstring::npos) {
        return Result::Failure(
            L"--client-version cannot hold a space: the game reads its version only up to the first one");
    }
    const auto number = ReadRelease(release);
    if (!number) {
        return Result::Failure(
            fmt::format(L"--release needs a whole number from 0 to 2147483647, not \"{}\"", release));
    }
    request.release = *number;
    if (!validDays.empty()) {
        const auto days = ReadRelease(validDays);
        if (!days || *days < 1 || *days > kMostValidDays) {
            return Result::Failure(
                fmt::format(L"--valid-days needs a whole number of days from 1 to {}, not \"{}\"",
                            kMostValidDays, validDays));
        }
        if (request.signingKeyFile.empty()) {
            return Result::Failure(L"--valid-days needs --sign: only a signed release can expire");
        }
        request.validDays = *days;
    }
    for (const auto& [name, value] : reader.values) {
        if (name == L"--keep") {
            if (value.empty()) {
                return Result::Failure(L"--keep needs a pattern");
            }
            request.keep.push_back(value);
        }
    }
    return Result::Success(std::move(command));
}

// verify <mirror-root or URL> [--key K] [--quick], and pull <URL> <folder> [--key K].
Outcome<Command> ParseVerifyOrPull(const std::vector<std::wstring>& args, CommandKind kind) {
    const bool pull = kind == CommandKind::Pull;
    OptionReader reader(args);
    if (auto read = pull ? reader.Read({L"--key"}) : reader.Read({L"--key"}, {L"--quick"}); !read) {
        return Outcome<Command>::Failure(read.message);
    }
    auto key = reader.Single(L"--key");
    if (!key) {
        return Outcome<Command>::Failure(key.message);
    }
    std::string publicKey;
    if (*key.value) {
        publicKey = WideToUtf8(**key.value);
        const auto bytes = Base64Decode(publicKey);
        if (!bytes || bytes->size() != kP256PublicKeySize) {
            return Outcome<Command>::Failure(
                L"--key needs the public key line that \"orvanectl keygen\" printed");
        }
    }
    const size_t wanted = pull ? 2 : 1;
    if (reader.words.size() != wanted) {
        return Outcome<Command>::Failure(
            reader.words.size() < wanted ? std::wstring(pull ? L"pull needs the mirror's URL and the folder"
                                                             : L"verify needs the mirror root")
                                         : fmt::format(L"unexpected argument \"{}\"", reader.words[wanted]));
    }
    Command command;
    command.kind = kind;
    command.mirrorRoot = reader.words[0];
    command.publicKey = std::move(publicKey);
    command.quick = reader.Has(L"--quick");
    if (pull) {
        command.folder = reader.words[1];
        if (!IsWebAddress(command.mirrorRoot)) {
            return Outcome<Command>::Failure(L"pull needs the mirror's http:// or https:// URL first");
        }
    } else if (command.quick && !IsWebAddress(command.mirrorRoot)) {
        return Outcome<Command>::Failure(L"--quick needs the mirror's http:// or https:// URL");
    }
    return Outcome<Command>::Success(std::move(command));
}

// A command of words only: "keygen <key-file>" or "sign <mirror-root> <key-file>".
Outcome<Command> ParseWords(const std::vector<std::wstring>& args, CommandKind kind) {
    OptionReader reader(args);
    if (auto read = reader.Read({}); !read) {
        return Outcome<Command>::Failure(read.message);
    }
    const size_t wanted = kind == CommandKind::Keygen ? 1 : 2;
    if (reader.words.size() != wanted) {
        return Outcome<Command>::Failure(
            reader.words.size() < wanted
                ? std::wstring(kind == CommandKind::Keygen
                                   ? L"keygen needs the private key file"
                                   : L"sign needs the mirror root and the private key file")
                : fmt::format(L"unexpected argument \"{}\"", reader.words[wanted]));
    }
    Command command;
    command.kind = kind;
    command.keyFile = reader.words.back();
    if (kind == CommandKind::Sign) {
        command.mirrorRoot = reader.words[0];
    }
    return Outcome<Command>::Success(std::move(command));
}

Outcome<Command> ParseUpdate(const std::vector<std::wstring>& args) {
    Command command;
    command.kind = CommandKind::Update;
    std::vector<std::wstring> words;
    bool wordsOnly = false;
    for (size_t i = 1; i < args.size(); ++i) {
        if (!wordsOnly && args[i] == L"--") {
            wordsOnly = true;
        } else if (!wordsOnly && SameOption(args[i], L"--repair")) {
            command.repair = true;
        } else if (!wordsOnly && args[i].starts_with(L"-") && args[i] != L"-") {
            return Outcome<Command>::Failure(fmt::format(L"unknown option \"{}\"", args[i]));
        } else {
            words.push_back(args[i]);
        }
    }
    if (words.size() != 1) {
        return Outcome<Command>::Failure(words.empty()
                                             ? L"update needs the game folder"
                                             : fmt::format(L"unexpected argument \"{}\"", words[1]));
    }
    command.gameFolder = words[0];
    return Outcome<Command>::Success(std::move(command));
}

} // namespace

Outcome<Command> ParseCommand(const std::vector<std::wstring>& args) {
    for (const std::wstring& arg : args) {
        if (arg == L"--") {
            break;
        }
        if (IsHelp(arg)) {
            return Outcome<Command>::Success(Command{});
        }
    }
    if (args.empty()) {
        return Outcome<Command>::Failure(L"no command given");
    }
    if (SameOption(args[0], L"help")) {
        return Outcome<Command>::Success(Command{});
    }
    if (SameOption(args[0], L"publish")) {
        return ParsePublish(args);
    }
    if (SameOption(args[0], L"verify")) {
        return ParseVerifyOrPull(args, CommandKind::Verify);
    }
    if (SameOption(args[0], L"pull")) {
        return ParseVerifyOrPull(args, CommandKind::Pull);
    }
    if (SameOption(args[0], L"update")) {
        return ParseUpdate(args);
    }
    if (SameOption(args[0], L"keygen")) {
        return ParseWords(args, CommandKind::Keygen);
    }
    if (SameOption(args[0], L"sign")) {
        return ParseWords(args, CommandKind::Sign);
    }
    return Outcome<Command>::Failure(fmt::format(L"unknown command \"{}\"", args[0]));
}

const wchar_t* UsageText() {
    return LR"(orvanectl: the Orvane release publisher

usage:
  orvanectl publish <game-folder> <mirror-root> --release N --client-version V
                    [--server S] [--launch P] [--launcher FILE] [--keep GLOB]...
                    [--sign KEY-FILE [--valid-days N]] [--no-packs]
  orvanectl verify <mirror-root> [--key PUBLIC-KEY]
  orvanectl verify <url> [--key PUBLIC-KEY] [--quick]
  orvanectl pull <url> <folder> [--key PUBLIC-KEY]
  orvanectl update <game-folder> [--repair]
  orvanectl keygen <private-key-file>
  orvanectl sign <mirror-root> <private-key-file>
  orvanectl --help

publish   Publishes the game folder as release N into the mirror root: one object per
          distinct content in <mirror-root>\objects (zlib-compressed as "<sha256>.z" when
          that is smaller, else the file as it is, "<sha256>"), then manifest.txt, written
          last in one rename. Objects the mirror already holds are reused, so publishing
          a new release writes only new content. The mirror root is created when missing.
          Every content of at least 4 MiB is also published in content-defined chunks
          (one zlib object "<sha256>.c" per distinct chunk, and a chunk list "<sha256>.l"
          named in a "c" row of the manifest), so that a launcher holding an older version
          fetches only the chunks it lacks.
          The small objects (1 byte to 1 MiB, except the launcher's) and every chunk are
          also stored back to back in packs of at most 16 MiB (<mirror-root>\packs\<2 hex>\
          <sha256>.pack), with a pack index "<sha256>.index" named in the "p" row of the
          manifest, so that a launcher fetches many of them with one range request. Objects
          that a pack of the mirror's current release holds stay there; new content goes
          into new packs, after the objects and before manifest.txt. A pack or index the
          mirror holds is never written again.
          Every file below the game folder is published, with these exceptions:
            - the launcher's data folder ".orvane" at the top of the game folder;
            - the mirror root, when it lies inside the game folder;
            - a linked folder that leads back to a folder above it (entered once only).
          Empty folders are not part of a release. A file that cannot be read ends the
          publish; manifest.txt is then left as it was.

  --release N          release number, a whole number from 0 to 2147483647, not lower
                       than that of the manifest the mirror serves (launchers with a
                       release key refuse an older release)
  --client-version V   the game client's version, without spaces
  --server S           the "server" value of the manifest (left out when not given)
  --launch P           the program the launcher's PLAY button starts, relative to
                       the game folder (left out when not given: the launcher's default)
  --launcher FILE      publish FILE (absolute, or relative to the current folder) as the
                       launcher: it becomes "Orvane.exe" at the top of the release, kind
                       "s", and an Orvane.exe at the top of the game folder is left out.
                       Without --launcher, the Orvane.exe at the top of the game folder is
                       the launcher (kind "s"); Orvane.exe files in subfolders are not.
  --keep GLOB          files matching GLOB only have to exist and keep the player's
                       changes (kind "k"); may be given several times. GLOB is matched
                       against the whole path below the game folder, with "/" between
                       folders, ignoring the case of A-Z:
                         *    any characters except "/"
                         ?    one character except "/"
                         **   any characters, "/" included
                         **/  any number of folders, none included
                       "\" counts as "/". Examples: "lang/lang.ini" (that file),
                       "*.ini" (.ini files at the top), "**/*.ini" (.ini files anywhere),
                       "saves/**" (everything below saves). The launcher is always "s".
  --sign KEY-FILE      sign the release with the private key file that "keygen" made: the
                       last line of manifest.txt becomes "#signature", a tab and the base64
                       of the ECDSA P-256 signature of every byte before it. A launcher built
                       with the public key takes only manifests signed with its private key.
                       The key is read first: a bad key file writes nothing to the mirror.
  --valid-days N       with --sign: the release expires N days (1 to 36500) after publishing
                       ("expires" line); a launcher with the key then refuses it, so publish
                       again before then. Without it a signed release never expires.
  --no-packs           write no packs and no pack index, and no "p" row: the mirror holds
                       the loose objects only, as before packs existed (launchers then fetch
                       every object on its own)
  Options take their value as the next argument or after "=" (--release=12).

verify    Reads <mirror-root>\manifest.txt with the launcher's own parser and checks every
          distinct object it names: it exists, has the listed size, and holds exactly the
          listed file (inflated when compressed) with the listed SHA-256, and for every file
          published in chunks its chunk list and each chunk object, and that the chunks
          rebuild the file. With a "p" row: the pack index (its size, SHA-256 and that it
          parses), every pack it names (its size, and its SHA-256 is its name), and every
          object in a pack (its bytes are a good object of its name, of the size the manifest
          or the chunk list gives). Prints one line per bad object or pack.

          Publishing reuses objects without reading them: to repair a bad object, delete
          it and publish again.
  --key PUBLIC-KEY     also check the manifest's signature against the public key line that
                       "keygen" printed (and that the launcher is built with), and that the
                       release has not expired. Without it, verify only says whether the
                       manifest carries a signature.

          Given the http:// or https:// base URL of a mirror instead, verify checks it as
          launchers meet it, with the launcher's own HTTP client (its size caps and pace
          rule) on twelve connections: the manifest, and every object, chunk list, chunk,
          pack index and pack it names as served, each by its size and SHA-256. Also: an
          answer with a Content-Encoding (launchers ask without decoding) or an HTML page
          in place of a file is a problem; the manifest asked with two "?t=" values (as
          launchers ask, to get past caches) must be the same text; a range request on one
          object and on one pack must be answered with those bytes: a 200 with the whole
          file is a warning (launchers resume and read packs more slowly there). Every
          problem names its URL.
  --quick              with a URL: check only that every file is there with its size (HEAD,
                       or the first byte as a range where HEAD is refused), reading only the
                       manifest, the chunk lists and the pack index

pull      Copies the release the mirror at <url> serves into <folder>, so that the folder is a
          mirror of the same release: every object, chunk list, chunk, pack index and pack,
          each verified by its size and SHA-256 before it is moved into place, and manifest.txt
          last, byte for byte as served (a signed release stays signed), only once everything
          is there and verified. What the folder holds and verifies is not fetched again, so
          pulling the next release fetches only its new content; a damaged file is fetched
          again, and an interrupted pull run again goes on where it stopped.
  --key PUBLIC-KEY     refuse a manifest that a launcher with this key would refuse, before
                       anything else is fetched

update    Brings <game-folder> to the current release from the mirrors the launcher would use
          (its .orvane\mirrors.txt, else the built-in ones), exactly as the launcher does,
          without a window and without replacing the launcher. Prints the phases, a
          progress line about once a second and the final status. Ctrl+C stops the run;
          the next run resumes the downloads.
  --repair             verify every file instead of trusting the file cache
          A build with a release key takes only manifests signed with it, as the launcher.

keygen    Makes a new release signing key (ECDSA P-256) and writes its private key to the
          file, which must not exist yet: a key file is never overwritten. Prints the public
          key, one line of base64: build the launcher with it (CMake: -DORV_RELEASE_KEY=...).
          Keep the private key off the mirrors.

sign      Signs <mirror-root>\manifest.txt in place with the private key file (replacing a
          signature it carries), in one rename, for releases published by other tools.

exit codes: 0 success, 1 failure (or a bad object, or an update that did not finish),
            2 bad usage)";
}

} // namespace Orv::Publisher
