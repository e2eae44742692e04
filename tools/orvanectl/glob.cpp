#include "orvanectl/glob.h"

#include <algorithm>

namespace Orv::Publisher {
namespace {

wchar_t FoldAscii(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

} // namespace

Glob::Glob(std::wstring_view pattern) : text_(pattern) {
    for (wchar_t& c : text_) {
        if (c == L'\\') {
            c = L'/';
        }
    }
    for (size_t i = 0; i < text_.size(); ++i) {
        const wchar_t c = text_[i];
        if (c == L'*' && i + 1 < text_.size() && text_[i + 1] == L'*') {
            // Further stars add nothing to "**".
            size_t end = i + 2;
            while (end < text_.size() && text_[end] == L'*') {
                ++end;
            }
            if (end < text_.size() && text_[end] == L'/') {
                tokens_.push_back({Kind::Folders, 0});
                i = end;
            } else {
                tokens_.push_back({Kind::DoubleStar, 0});
                i = end - 1;
            }
        } else if (c == L'*') {
            tokens_.push_back({Kind::Star, 0});
        } else if (c == L'?') {
            tokens_.push_back({Kind::One, 0});
        } else {
            tokens_.push_back({Kind::Literal, FoldAscii(c)});
        }
    }
}

// Walks the pattern once, keeping the set of path positions each prefix of it can reach.
bool Glob::Matches(std::wstring_view path) const {
    const size_t n = path.size();
    std::vector<char> reach(n + 1, 0);
    std::vector<char> next(n + 1, 0);
    reach[0] = 1;
    for (const Token& token : tokens_) {
        std::fill(next.begin(), next.end(), 0);
        switch (token.kind) {
        case Kind::Literal:
            for (size_t j = 0; j < n; ++j) {
                next[j + 1] = reach[j] && FoldAscii(path[j]) == token.literal;
            }
            break;
        case Kind::One:
            for (size_t j = 0; j < n; ++j) {
                next[j + 1] = reach[j] && path[j] != L'/';
            }
            break;
        case Kind::Star:
            for (size_t j = 0; j <= n; ++j) {
                next[j] = reach[j] || (j > 0 && next[j - 1] && path[j - 1] != L'/');
            }
            break;
        case Kind::DoubleStar:
            for (size_t j = 0; j <= n; ++j) {
                next[j] = reach[j] || (j > 0 && next[j - 1]);
            }
            break;
        case Kind::Folders: {
            // Either nothing, or any run that ends with "/".
            bool seen = false;
            for (size_t j = 0; j <= n; ++j) {
                next[j] = reach[j] || (seen && j > 0 && path[j - 1] == L'/');
                seen = seen || reach[j];
            }
            break;
        }
        }
        reach.swap(next);
    }
    return reach[n] != 0;
}

} // namespace Orv::Publisher
