#include "update/worker_buffers.h"

namespace Orv {
namespace {

// A plain pointer: a thread_local with a destructor is not safe at thread exit with this runtime.
thread_local WorkerBuffers* threadBuffers = nullptr;

} // namespace

WorkerBuffersScope::WorkerBuffersScope(WorkerBuffers& buffers) {
    threadBuffers = &buffers;
}

WorkerBuffersScope::~WorkerBuffersScope() {
    threadBuffers = nullptr;
}

WorkerBuffers* ThreadBuffers() {
    return threadBuffers;
}

} // namespace Orv
