#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct z_stream_s;

namespace Orv::Publisher {

// Receives each piece of output; returning false stops the stream.
using ByteSink = std::function<bool(const unsigned char* data, size_t length)>;

// A zlib (RFC 1950) compressor fed piece by piece. Bound to its place: zlib keeps pointers into it.
class DeflateStream {
public:
    explicit DeflateStream(int level);
    ~DeflateStream();
    DeflateStream(const DeflateStream&) = delete;
    DeflateStream& operator=(const DeflateStream&) = delete;

    bool Valid() const { return valid_; }
    // Compresses the bytes and hands the output that is ready to the sink; with `finish` the bytes
    // are the last ones and the stream is ended. False when zlib fails or the sink stops.
    bool Push(const unsigned char* data, size_t length, bool finish, const ByteSink& sink);
    uint64_t TotalOut() const { return totalOut_; }

private:
    std::unique_ptr<z_stream_s> stream_;
    std::vector<unsigned char> out_;
    uint64_t totalOut_ = 0;
    bool valid_ = false;
};

enum class InflateState {
    More,    // all input used, the stream has not ended yet
    End,     // the stream ended (input after its end is left alone)
    Bad,     // the input is not a valid zlib stream
    Stopped, // the sink stopped it
};

// A zlib (RFC 1950) decompressor fed piece by piece.
class InflateStream {
public:
    InflateStream();
    ~InflateStream();
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;

    bool Valid() const { return valid_; }
    // Inflates the bytes until they are used up or the stream ends, handing the output to the sink.
    InflateState Push(const unsigned char* data, size_t length, const ByteSink& sink);
    // zlib's description of the last failure.
    std::wstring ErrorText() const;

private:
    std::unique_ptr<z_stream_s> stream_;
    std::vector<unsigned char> out_;
    InflateState state_ = InflateState::More;
    bool valid_ = false;
};

} // namespace Orv::Publisher
