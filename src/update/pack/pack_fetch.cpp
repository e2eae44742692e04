#include "update/pack/pack_fetch.h"

#include "core/log.h"
#include "core/text.h"
#include "partners/download_server.h"
#include "update/http_client.h"
#include "update/object_stage.h"
#include "update/staging_stream.h"

#include <fmt/xchar.h>

#include <algorithm>
#include <memory>
#include <optional>

namespace Orv {
namespace {

// One attempt's answer, cut into the piece's objects as it streams in.
class PieceCutter {
public:
    PieceCutter(const PackPiece& piece, const PieceTargets& targets, size_t next, std::stop_token stopToken)
        : piece_(piece), targets_(targets), stop_(stopToken), next_(next),
          position_(piece.items[next].spot.offset) {}

    // Takes the next bytes of the range; false ends the answer (an object failed, see below).
    bool Take(std::span<const char> bytes) {
        while (!bytes.empty() && next_ < piece_.items.size()) {
            const PackSpot& spot = piece_.items[next_].spot;
            if (position_ < spot.offset) {
                // The bytes between two needed objects.
                const size_t gap =
                    static_cast<size_t>(std::min<uint64_t>(bytes.size(), spot.offset - position_));
                position_ += gap;
                bytes = bytes.subspan(gap);
                continue;
            }
            if (!stream_) {
                object_ = targets_.objectOf(piece_.items[next_].id);
                shownName = object_.entry->path;
                stream_ = std::make_unique<StagingStream>(*object_.entry, object_.destPath);
            }
            const uint64_t end = spot.offset + spot.length;
            const size_t take = static_cast<size_t>(std::min<uint64_t>(bytes.size(), end - position_));
            const bool fed =
                stream_->Feed({reinterpret_cast<const unsigned char*>(bytes.data()), take}, stop_);
            position_ += take;
            bytes = bytes.subspan(take);
            if ((!fed || position_ == end) && !Place()) {
                return false;
            }
        }
        return true;
    }

    // The first item not yet placed, and the pack offset up to which bytes came.
    size_t Next() const { return next_; }
    uint64_t Position() const { return position_; }

    std::wstring shownName;            // the object being received, for the slot
    std::optional<std::wstring> fatal; // a failure that ends the run
    std::wstring corrupt;              // the object that did not verify

private:
    // Finishes the object being received: placed, or the reason the answer ends.
    bool Place() {
        Outcome<Ok> staged = stream_->Finish(stop_);
        stream_.reset();
        if (staged) {
            staged = targets_.placed(piece_.items[next_].id);
            if (!staged) {
                fatal = staged.message;
                return false;
            }
            ++next_;
            return true;
        }
        Log(fmt::format(L"place {}: {}", object_.entry->path, staged.message));
        if (!staged.message.empty() && staged.message.front() == kFatalMarker) {
            fatal = staged.message.substr(1);
        } else {
            corrupt = object_.entry->path;
        }
        return false;
    }

    const PackPiece& piece_;
    const PieceTargets& targets_;
    std::stop_token stop_;
    size_t next_;
    uint64_t position_;
    PieceObject object_;
    std::unique_ptr<StagingStream> stream_;
};

// Why an attempt that did not place every object ended, for the log.
std::wstring AttemptFailure(const HttpResult& result, const PieceCutter& cut, uint64_t last) {
    if (!cut.corrupt.empty()) {
        return fmt::format(L"{} in it does not verify", cut.corrupt);
    }
    if (result.badRange) {
        return L"the answer is another range (Content-Range)";
    }
    if (result.overLimit) {
        return L"the answer is longer than the range";
    }
    if (result.error == 0 && (result.status == 200 || result.status == 206)) {
        return fmt::format(L"short ({} of {} bytes)", cut.Position(), last + 1);
    }
    return HttpErrorText(result);
}

} // namespace

PieceResult FetchPackPiece(const PackFile& pack, const PackPiece& piece, const PieceTargets& targets,
                           const Downloader& downloader, Slot* slot, std::stop_token stopToken) {
    UpdateProgress& progress = downloader.Progress();
    uint64_t counted = piece.first; // the range's bytes up to here are in the progress
    const auto count = [&](uint64_t position) {
        if (position > counted) {
            progress.bytesDone.fetch_add(position - counted);
            counted = position;
        }
        if (slot != nullptr) {
            slot->received.store(std::max(position, counted) - piece.first);
        }
    };
    size_t next = 0;
    for (int attempt = 0; attempt < kDownloadAttempts; ++attempt) {
        if (stopToken.stop_requested() || (attempt > 0 && !PauseBeforeAttempt(attempt, stopToken))) {
            return {Failure(CancelledText()), {}};
        }
        const std::wstring& mirror = downloader.MirrorFor(attempt);
        PieceCutter cut(piece, targets, next, stopToken);
        const BodySink sink = [&](std::span<const char> bytes) {
            const bool more = cut.Take(bytes);
            if (slot != nullptr && !cut.shownName.empty()) {
                std::lock_guard guard(progress.lock);
                slot->name = std::move(cut.shownName);
                cut.shownName.clear();
            }
            count(cut.Position());
            return more;
        };
        const uint64_t from = cut.Position();
        const HttpResult result =
            HttpGetRange(DownloadServer::PackUrl(mirror, pack.sha256, DownloadServer::kPackSuffix),
                         {from, piece.last, pack.size}, sink, stopToken);
        next = cut.Next();
        if (cut.fatal) {
            return {Failure(*cut.fatal), {}};
        }
        if (next == piece.items.size()) {
            return {};
        }
        if (stopToken.stop_requested()) {
            return {Failure(CancelledText()), {}};
        }
        Log(fmt::format(L"pack {} bytes {}-{} from {} failed (attempt {}): {}", Utf8ToWide(pack.sha256), from,
                        piece.last, mirror, attempt + 1, AttemptFailure(result, cut, piece.last)));
    }
    // What never came leaves the total; the objects left come loose.
    progress.bytesTotal.fetch_sub(piece.last + 1 - counted);
    PieceResult result;
    for (size_t i = next; i < piece.items.size(); ++i) {
        result.loose.push_back(piece.items[i].id);
    }
    Log(fmt::format(L"pack {}: {} objects are fetched loose", Utf8ToWide(pack.sha256), result.loose.size()));
    return result;
}

} // namespace Orv
