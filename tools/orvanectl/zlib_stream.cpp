#include "orvanectl/zlib_stream.h"

#include "core/text.h"

#include <zlib.h>

namespace Orv::Publisher {
namespace {

constexpr size_t kOutputChunk = 262144;

// zlib counts in uInt; larger inputs are fed in parts of this size.
constexpr size_t kLargestPart = 0x40000000U;

} // namespace

DeflateStream::DeflateStream(int level) : stream_(std::make_unique<z_stream>()), out_(kOutputChunk) {
    valid_ = ::deflateInit(stream_.get(), level) == Z_OK;
}

DeflateStream::~DeflateStream() {
    if (valid_) {
        ::deflateEnd(stream_.get());
    }
}

bool DeflateStream::Push(const unsigned char* data, size_t length, bool finish, const ByteSink& sink) {
    if (!valid_) {
        return false;
    }
    for (;;) {
        const size_t part = length > kLargestPart ? kLargestPart : length;
        const bool last = finish && part == length;
        stream_->next_in = const_cast<unsigned char*>(data);
        stream_->avail_in = static_cast<uInt>(part);
        int result = Z_OK;
        do {
            stream_->next_out = out_.data();
            stream_->avail_out = static_cast<uInt>(out_.size());
            result = ::deflate(stream_.get(), last ? Z_FINISH : Z_NO_FLUSH);
            if (result == Z_STREAM_ERROR) {
                return false;
            }
            const size_t produced = out_.size() - stream_->avail_out;
            totalOut_ += produced;
            if (produced > 0 && !sink(out_.data(), produced)) {
                return false;
            }
        } while (stream_->avail_out == 0 || (last && result != Z_STREAM_END));
        data += part;
        length -= part;
        if (length == 0) {
            return true;
        }
    }
}

InflateStream::InflateStream() : stream_(std::make_unique<z_stream>()), out_(kOutputChunk) {
    valid_ = ::inflateInit(stream_.get()) == Z_OK;
    if (!valid_) {
        state_ = InflateState::Bad;
    }
}

InflateStream::~InflateStream() {
    if (valid_) {
        ::inflateEnd(stream_.get());
    }
}

InflateState InflateStream::Push(const unsigned char* data, size_t length, const ByteSink& sink) {
    while (state_ == InflateState::More && length > 0) {
        const size_t part = length > kLargestPart ? kLargestPart : length;
        stream_->next_in = const_cast<unsigned char*>(data);
        stream_->avail_in = static_cast<uInt>(part);
        while (state_ == InflateState::More) {
            stream_->next_out = out_.data();
            stream_->avail_out = static_cast<uInt>(out_.size());
            const int result = ::inflate(stream_.get(), Z_NO_FLUSH);
            if (result == Z_NEED_DICT || result == Z_DATA_ERROR || result == Z_MEM_ERROR ||
                result == Z_STREAM_ERROR) {
                state_ = InflateState::Bad;
                break;
            }
            const size_t produced = out_.size() - stream_->avail_out;
            if (produced > 0 && !sink(out_.data(), produced)) {
                state_ = InflateState::Stopped;
                break;
            }
            if (result == Z_STREAM_END) {
                state_ = InflateState::End;
            } else if (stream_->avail_in == 0 && stream_->avail_out != 0) {
                break;
            } else if (result == Z_BUF_ERROR && produced == 0) {
                state_ = InflateState::Bad; // no progress with input and room for output
            }
        }
        data += part;
        length -= part;
    }
    return state_;
}

std::wstring InflateStream::ErrorText() const {
    if (!valid_) {
        return L"zlib could not start";
    }
    if (stream_->msg != nullptr) {
        return Utf8ToWide(stream_->msg);
    }
    return L"not a zlib stream";
}

} // namespace Orv::Publisher
