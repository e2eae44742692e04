#pragma once
#include <windows.h>

#include <bcrypt.h>
#include <winhttp.h>
#include <utility>

namespace Orv {

// Move-only owner of one system handle; Traits gives the invalid value and the closing call.
template <class Traits>
class UniqueHandle {
public:
    using Value = typename Traits::Value;

    UniqueHandle() = default;
    explicit UniqueHandle(Value v) : value_(v) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : value_(std::exchange(other.value_, Traits::Invalid())) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            Reset(std::exchange(other.value_, Traits::Invalid()));
        }
        return *this;
    }
    ~UniqueHandle() { Reset(); }

    Value Get() const { return value_; }
    bool Valid() const { return value_ != Traits::Invalid(); }
    explicit operator bool() const { return Valid(); }

    void Reset(Value v = Traits::Invalid()) {
        if (Valid()) {
            Traits::Close(value_);
        }
        value_ = v;
    }
    Value Release() { return std::exchange(value_, Traits::Invalid()); }

private:
    Value value_ = Traits::Invalid();
};

// Kernel objects whose "none" is the null handle: processes, threads, mutexes, events.
struct KernelHandleTraits {
    using Value = HANDLE;
    static Value Invalid() { return nullptr; }
    static void Close(Value v) { ::CloseHandle(v); }
};
using KernelHandle = UniqueHandle<KernelHandleTraits>;

// Files, whose "none" is INVALID_HANDLE_VALUE.
struct FileHandleTraits {
    using Value = HANDLE;
    static Value Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Value v) { ::CloseHandle(v); }
};
using FileHandle = UniqueHandle<FileHandleTraits>;

struct FindHandleTraits {
    using Value = HANDLE;
    static Value Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Value v) { ::FindClose(v); }
};
using FindHandle = UniqueHandle<FindHandleTraits>;

struct RegKeyTraits {
    using Value = HKEY;
    static Value Invalid() { return nullptr; }
    static void Close(Value v) { ::RegCloseKey(v); }
};
using RegKey = UniqueHandle<RegKeyTraits>;

struct LocalMemoryTraits {
    using Value = HLOCAL;
    static Value Invalid() { return nullptr; }
    static void Close(Value v) { ::LocalFree(v); }
};
using LocalMemory = UniqueHandle<LocalMemoryTraits>;

struct GdiObjectTraits {
    using Value = HGDIOBJ;
    static Value Invalid() { return nullptr; }
    static void Close(Value v) { ::DeleteObject(v); }
};
using GdiObject = UniqueHandle<GdiObjectTraits>;

// DLLs loaded with LoadLibrary.
struct ModuleTraits {
    using Value = HMODULE;
    static Value Invalid() { return nullptr; }
    static void Close(Value v) { ::FreeLibrary(v); }
};
using Module = UniqueHandle<ModuleTraits>;

// CNG algorithm providers and keys.
struct BcryptAlgorithmTraits {
    using Value = BCRYPT_ALG_HANDLE;
    static Value Invalid() { return nullptr; }
    static void Close(Value v) { ::BCryptCloseAlgorithmProvider(v, 0); }
};
using BcryptAlgorithm = UniqueHandle<BcryptAlgorithmTraits>;

struct BcryptKeyTraits {
    using Value = BCRYPT_KEY_HANDLE;
    static Value Invalid() { return nullptr; }
    static void Close(Value v) { ::BCryptDestroyKey(v); }
};
using BcryptKey = UniqueHandle<BcryptKeyTraits>;

// WinHTTP sessions, connections and requests.
struct WinHttpTraits {
    using Value = HINTERNET;
    static Value Invalid() { return nullptr; }
    static void Close(Value v) { ::WinHttpCloseHandle(v); }
};
using WinHttpHandle = UniqueHandle<WinHttpTraits>;

} // namespace Orv
