#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace Orv::Publisher {

// A path pattern for --keep, matched against a whole relative path with "/" separators:
//   *    any run of characters other than "/"
//   ?    one character other than "/"
//   **   any run of characters, "/" included
//   **/  any number of whole folders, none included ("**/x.ini" matches "x.ini" and "a/b/x.ini")
// Every other character stands for itself, the letters A-Z and a-z ignoring case. A "\" in the
// pattern is taken as "/".
class Glob {
public:
    explicit Glob(std::wstring_view pattern);
    bool Matches(std::wstring_view path) const;
    const std::wstring& Text() const { return text_; }

private:
    enum class Kind { Literal, One, Star, DoubleStar, Folders };
    struct Token {
        Kind kind;
        wchar_t literal;
    };
    std::wstring text_;
    std::vector<Token> tokens_;
};

} // namespace Orv::Publisher
