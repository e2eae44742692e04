#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Orv::Publisher {

// One JSON object on one line, its members in the order they are added: what --json prints.
class JsonObject {
public:
    JsonObject& Text(std::string_view key, std::wstring_view value);
    JsonObject& Flag(std::string_view key, bool value);
    JsonObject& Number(std::string_view key, int64_t value);
    JsonObject& Texts(std::string_view key, const std::vector<std::wstring>& values);
    // "{...}"
    std::wstring Line() const;

private:
    void Key(std::string_view key);
    std::wstring members_;
};

// The text as a JSON string, quotes included.
std::wstring JsonString(std::wstring_view text);

} // namespace Orv::Publisher
