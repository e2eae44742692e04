#include "orvanectl/json_text.h"

#include <fmt/xchar.h>

namespace Orv::Publisher {

std::wstring JsonString(std::wstring_view text) {
    std::wstring quoted = L"\"";
    for (const wchar_t c : text) {
        switch (c) {
        case L'"':
            quoted += L"\\\"";
            break;
        case L'\\':
            quoted += L"\\\\";
            break;
        case L'\n':
            quoted += L"\\n";
            break;
        case L'\r':
            quoted += L"\\r";
            break;
        case L'\t':
            quoted += L"\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                quoted += fmt::format(L"\\u{:04x}", static_cast<unsigned>(c));
            } else {
                quoted += c;
            }
        }
    }
    return quoted + L"\"";
}

void JsonObject::Key(std::string_view key) {
    if (!members_.empty()) {
        members_ += L',';
    }
    members_ += JsonString(std::wstring(key.begin(), key.end())) + L":";
}

JsonObject& JsonObject::Text(std::string_view key, std::wstring_view value) {
    Key(key);
    members_ += JsonString(value);
    return *this;
}

JsonObject& JsonObject::Flag(std::string_view key, bool value) {
    Key(key);
    members_ += value ? L"true" : L"false";
    return *this;
}

JsonObject& JsonObject::Number(std::string_view key, int64_t value) {
    Key(key);
    members_ += std::to_wstring(value);
    return *this;
}

JsonObject& JsonObject::Texts(std::string_view key, const std::vector<std::wstring>& values) {
    Key(key);
    members_ += L'[';
    for (size_t i = 0; i < values.size(); ++i) {
        members_ += (i == 0 ? L"" : L",") + JsonString(values[i]);
    }
    members_ += L']';
    return *this;
}

std::wstring JsonObject::Line() const {
    return L"{" + members_ + L"}";
}

} // namespace Orv::Publisher
