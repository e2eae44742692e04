#include "core/instance_lock.h"

namespace Orv {

uint32_t Fnv1a(const std::wstring& text) {
    uint32_t hash = 2166136261U;
    for (wchar_t unit : text) {
        const auto value = static_cast<uint16_t>(unit);
        hash = (hash ^ (value & 0xFFU)) * 16777619U;
        hash = (hash ^ (value >> 8)) * 16777619U;
    }
    return hash;
}

std::wstring InstanceLockName(const std::wstring& folder) {
    return L"Local\\OrvaneLauncher_" + std::to_wstring(Fnv1a(folder));
}

} // namespace Orv
