#pragma once
#include <unknwn.h>

#include <utility>

namespace Orv {

// Move-only owner of one COM interface pointer; released with the object.
template <class Interface>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            Reset();
            pointer_ = std::exchange(other.pointer_, nullptr);
        }
        return *this;
    }
    ~ComPtr() { Reset(); }

    Interface* Get() const { return pointer_; }
    Interface* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }
    // For the calls that hand out a new reference; the old one is released first.
    Interface** Put() {
        Reset();
        return &pointer_;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    void Reset() {
        if (pointer_ != nullptr) {
            std::exchange(pointer_, nullptr)->Release();
        }
    }

private:
    Interface* pointer_ = nullptr;
};

// Memory handed out by COM (CoTaskMemAlloc), freed with the object.
template <class T>
class CoTaskMemory {
public:
    CoTaskMemory() = default;
    CoTaskMemory(const CoTaskMemory&) = delete;
    CoTaskMemory& operator=(const CoTaskMemory&) = delete;
    ~CoTaskMemory() { ::CoTaskMemFree(pointer_); }
    T* Get() const { return pointer_; }
    T** Put() {
        ::CoTaskMemFree(std::exchange(pointer_, nullptr));
        return &pointer_;
    }

private:
    T* pointer_ = nullptr;
};

} // namespace Orv
