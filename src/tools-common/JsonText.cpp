#include "JsonText.h"

#include <cstdio>

namespace zor::tools {

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
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
