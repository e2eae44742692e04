#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

// The buffers a worker thread keeps for the transfers and files it handles one after another, so a run
// of many small files does not allocate and clear them for each one. A thread without its own (the
// update thread) gets fresh buffers for each call.
namespace Orv {

// zlib's inflate state (update/staging_stream.cpp).
struct KeptInflater;

struct WorkerBuffers {
    std::vector<char> http;                // a response body, piece by piece
    std::vector<unsigned char> inflateIn;  // an object read from its .part
    std::vector<unsigned char> inflateOut; // inflated bytes on their way to the staging file
    std::vector<unsigned char> hashing;    // a file read to hash it
    std::string object;                    // a small object received whole
    // Made by the first compressed object and reset for each next one, so that a run of many small
    // objects does not make and free an inflate state and window for each.
    std::unique_ptr<KeptInflater, void (*)(KeptInflater*)> inflater{nullptr, nullptr};
};

// Gives the calling thread these buffers until the scope ends (scopes do not nest).
class WorkerBuffersScope {
public:
    explicit WorkerBuffersScope(WorkerBuffers& buffers);
    ~WorkerBuffersScope();
    WorkerBuffersScope(const WorkerBuffersScope&) = delete;
    WorkerBuffersScope& operator=(const WorkerBuffersScope&) = delete;
};

// The calling thread's buffers, or null.
WorkerBuffers* ThreadBuffers();

// `kept` when the thread has buffers, else `fresh`; either way resized to at least `size`.
template <class Buffer>
Buffer& BufferOf(Buffer WorkerBuffers::*member, Buffer& fresh, size_t size) {
    WorkerBuffers* buffers = ThreadBuffers();
    Buffer& buffer = buffers != nullptr ? buffers->*member : fresh;
    if (buffer.size() < size) {
        buffer.resize(size);
    }
    return buffer;
}

} // namespace Orv
