#include "orvanectl/command_help.h"

#include "core/build_settings.h"

#include <fmt/xchar.h>

#include <vector>

namespace Orv::Publisher {
namespace {

struct CommandHelp {
    CommandKind kind;
    const wchar_t* usage;   // the usage lines, each starting with "orvanectl"
    const wchar_t* summary; // what the command does, in one line of the overview
    const wchar_t* details; // what it does and its options
};

const std::vector<CommandHelp>& Helps() {
    static const std::vector<CommandHelp> helps{
        {CommandKind::Publish,
         LR"(orvanectl publish <game-folder> <mirror-root> --release N [--client-version V]
                    [--server S] [--launch P] [--notes FILE] [--launcher FILE]
                    [--keep GLOB]... [--sign KEY-FILE [--valid-days N]] [--no-packs]
                    [--force])",
         L"publish a game folder as a release into a mirror folder",
         LR"(Publishes the game folder as release N into the mirror root: one object per
distinct content in <mirror-root>\objects (zlib-compressed as "<sha256>.z" when
that is smaller, else the file as it is, "<sha256>"), then manifest.txt, written
last in one rename. Objects the mirror already holds are reused, so publishing
a new release writes only new content. The mirror root is created when missing;
before any file is read it must be a folder that can be written to.
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
Empty folders are not part of a release. Every name the launcher or Windows would
refuse is listed, one line each, before the publish fails. A file that cannot be
read ends the publish; manifest.txt is then left as it was. Ctrl+C stops the
publish (exit code 130) with manifest.txt as it was.

  --release N          release number, a whole number from 0 to 2147483647, not lower
                       than that of the manifest the mirror serves (launchers with a
                       release key refuse an older release). The release the mirror
                       serves may be published again with the same content (to sign
                       it again, for example); other content needs a higher number,
                       since players who hold release N would not take it as new.
  --client-version V   the game client's version, without spaces. The launcher writes it
                       into the release's VersionInfo.ver ("ClientVersion V") after an
                       update, so it must be the version that file holds: publish
                       refuses a release whose VersionInfo.ver says another one (every
                       launcher would download the file again at every start). Without
                       the option, the version is taken from VersionInfo.ver.
  --server S           the "server" value of the manifest (left out when not given)
  --launch P           the program the launcher's PLAY button starts, relative to
                       the game folder (left out when not given: the launcher's default)
  --notes FILE         the release's notes: a file of the release (FILE relative to the
                       game folder, any letter case) that launchers show in their window
                       once the game is up to date (launchers from before the option
                       ignore it). Publish refuses a FILE that is not UTF-8 text (a
                       leading byte order mark is fine) or is larger than 64 KiB.
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
  --force              publish other content under the release number the mirror serves
Options take their value as the next argument or after "=" (--release=12).)"},
        {CommandKind::Verify, LR"(orvanectl verify <mirror-root> [--key PUBLIC-KEY] [--json]
  orvanectl verify <url> [--key PUBLIC-KEY] [--quick] [--json])",
         L"check every object and pack of a mirror (a folder or a URL) against its manifest",
         LR"(Reads <mirror-root>\manifest.txt with the launcher's own parser and checks every
distinct object it names: it exists, has the listed size, and holds exactly the
listed file (inflated when compressed) with the listed SHA-256, and for every file
published in chunks its chunk list and each chunk object, and that the chunks
rebuild the file. With a "p" row: the pack index (its size, SHA-256 and that it
parses), every pack it names (its size, and its SHA-256 is its name), and every
object in a pack (its bytes are a good object of its name, of the size the manifest
or the chunk list gives). Prints one line per bad object or pack, with the game
paths that use a bad object.

Publishing reuses objects without reading them: to repair a bad object, delete
it and publish again.

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

  --key PUBLIC-KEY     also check the manifest's signature against the public key line that
                       "keygen" printed (and that the launcher is built with), and that the
                       release has not expired. Without it, verify only says whether the
                       manifest carries a signature.
  --quick              with a URL: check only that every file is there with its size (HEAD,
                       or the first byte as a range where HEAD is refused), reading only the
                       manifest, the chunk lists and the pack index
  --json               print the summary as one JSON object on standard output: command,
                       ok, mirror, release, files, objects, bytes, chunks, packs, signature
                       and problems (one text per bad object or pack))"},
        {CommandKind::Pull, L"orvanectl pull <url> <folder> [--key PUBLIC-KEY]",
         L"copy the release a mirror serves into a folder, as a mirror of it",
         LR"(Copies the release the mirror at <url> serves into <folder>, so that the folder is a
mirror of the same release: every object, chunk list, chunk, pack index and pack,
each verified by its size and SHA-256 before it is moved into place, and manifest.txt
last, byte for byte as served (a signed release stays signed), only once everything
is there and verified. What the folder holds and verifies is not fetched again, so
pulling the next release fetches only its new content; a damaged file is fetched
again, and an interrupted pull run again goes on where it stopped.

  --key PUBLIC-KEY     refuse a manifest that a launcher with this key would refuse, before
                       anything else is fetched)"},
        {CommandKind::Update, L"orvanectl update <game-folder> [--repair] [--json]",
         L"bring a game folder to the current release, without a window",
         LR"(Brings <game-folder> to the current release from the mirrors the launcher would use
(its .orvane\mirrors.txt, else the built-in ones), exactly as the launcher does,
without a window and without replacing the launcher. Prints the phases, a
progress line about once a second and the final status. Ctrl+C stops the run
(exit code 130): every game file is either the old one or a verified new one,
and the next run resumes the downloads.
A build with a release key takes only manifests signed with it, as the launcher.

  --repair             verify every file instead of trusting the file cache, and list the
                       files that were repaired
  --json               print the summary as one JSON object on standard output: command,
                       ok, folder, release, clientVersion, files, downloaded, bytes, status,
                       and the paths downloaded (repaired with --repair))"},
        {CommandKind::Keygen, L"orvanectl keygen <private-key-file>", L"make a release signing key",
         LR"(Makes a new release signing key (ECDSA P-256) and writes its private key to the
file, which must not exist yet: a key file is never overwritten. Prints the public
key, one line of base64: build the launcher with it (CMake: -DORV_RELEASE_KEY=...).
Keep the private key off the mirrors.)"},
        {CommandKind::Sign, L"orvanectl sign <mirror-root> <private-key-file>",
         L"sign a mirror's manifest in place",
         LR"(Signs <mirror-root>\manifest.txt in place with the private key file (replacing a
signature it carries), in one rename, for releases published by other tools.)"},
    };
    return helps;
}

constexpr const wchar_t* kCommonOptions = LR"(options of every command:
  -q, --quiet          print only errors and the final summary line
  --json               verify and update: print the summary as one JSON object
  -h, --help           print the command's help)";

constexpr const wchar_t* kExitCodes =
    LR"(exit codes: 0 success, 1 failure (or a bad object, or an update that did not finish),
            2 bad usage, 130 stopped by Ctrl+C or Ctrl+Break)";

} // namespace

std::wstring OverviewText() {
    std::wstring text =
        fmt::format(L"orvanectl {}: the Orvane release publisher\n\nusage:\n", BuildSettings::kVersion);
    for (const CommandHelp& help : Helps()) {
        text += fmt::format(L"  {}\n", help.usage);
    }
    text += L"  orvanectl <command> --help\n  orvanectl --version\n\ncommands:\n";
    for (const CommandHelp& help : Helps()) {
        text += fmt::format(L"  {:<9} {}\n", CommandName(help.kind), help.summary);
    }
    text += fmt::format(
        L"\n{}\n\nRun \"orvanectl <command> --help\" for what a command does and its options.\n\n{}",
        kCommonOptions, kExitCodes);
    return text;
}

std::wstring CommandHelpText(CommandKind kind) {
    for (const CommandHelp& help : Helps()) {
        if (help.kind == kind) {
            return fmt::format(L"usage:\n  {}\n\n{}\n\n{}\n\n{}", help.usage, help.details, kCommonOptions,
                               kExitCodes);
        }
    }
    return OverviewText();
}

std::wstring VersionText() {
    return fmt::format(L"orvanectl {}", BuildSettings::kVersion);
}

} // namespace Orv::Publisher
