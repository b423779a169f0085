#include "JsonText.h"

#include <cstdio>
#include <string_view>

namespace zor::tools {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// Length of the well-formed UTF-8 sequence at text[at], or 0. `consumed` is
// the ill-formed prefix to replace by one U+FFFD (its maximal subpart).
std::size_t utf8Sequence(const std::string& text, std::size_t at, std::size_t& consumed) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing past U+10FFFF
    }
    consumed = 1;
    if (length == 0) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (at + i >= text.size()) {
            return 0;
        }
        const unsigned char next = byte(at + i);
        if (i == 1 ? (next < low || next > high) : (next < 0x80 || next > 0xBF)) {
            return 0;
        }
        consumed = i + 1;
    }
    return length;
}

}  // namespace

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (std::size_t at = 0; at < text.size();) {
        const char c = text[at];
        if (static_cast<unsigned char>(c) >= 0x80) {
            std::size_t consumed = 1;
            const std::size_t length = utf8Sequence(text, at, consumed);
            out += length > 0 ? std::string_view(text).substr(at, length) : kReplacement;
            at += consumed;
            continue;
        }
        ++at;
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    std::array<char, 8> escaped{};
                    std::snprintf(escaped.data(), escaped.size(), "\\u%04x", static_cast<unsigned>(c));
                    out += escaped.data();
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

}  // namespace zor::tools
