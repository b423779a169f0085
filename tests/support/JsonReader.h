// A small strict JSON reader for tests, independent of the tools' writer.
#pragma once

#include <cctype>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace zor::test {

// A JSON value. Numbers keep their text so that tests can read them back as
// float or double without a detour.
struct Json {
    enum class Kind { Null, Bool, Number, String, Array, Object } kind = Kind::Null;
    std::string text;  // string value, number text, "true"/"false"
    std::vector<Json> items;
    std::map<std::string, Json> members;

    const Json& operator[](const std::string& key) const {
        const auto found = members.find(key);
        if (kind != Kind::Object || found == members.end()) {
            throw std::runtime_error("no member " + key);
        }
        return found->second;
    }
    bool has(const std::string& key) const { return members.count(key) != 0; }
    float asFloat() const { return std::stof(text); }
    double asDouble() const { return std::stod(text); }
    long asLong() const {
        std::size_t used = 0;
        const long value = std::stol(text, &used);
        if (used != text.size()) {
            throw std::runtime_error("not an integer: " + text);
        }
        return value;
    }
};

// Strict RFC 8259 reader for one value filling all of `text`; throws
// std::runtime_error on anything else.
class JsonReader {
public:
    static Json parse(const std::string& text) {
        JsonReader reader(text);
        Json value = reader.value();
        reader.skipSpace();
        if (reader.at_ != text.size()) {
            reader.fail("trailing characters");
        }
        return value;
    }

private:
    explicit JsonReader(const std::string& text) : text_(text) {}

    [[noreturn]] void fail(const std::string& what) const {
        throw std::runtime_error("JSON: " + what + " at " + std::to_string(at_) + " in " + text_);
    }
    void skipSpace() {
        while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) {
            ++at_;
        }
    }
    char peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }
    void expect(char c) {
        if (peek() != c) {
            fail(std::string("expected ") + c);
        }
        ++at_;
    }
    bool literal(const std::string& word) {
        if (text_.compare(at_, word.size(), word) == 0) {
            at_ += word.size();
            return true;
        }
        return false;
    }

    Json value() {
        skipSpace();
        Json result;
        const char c = peek();
        if (c == '{') {
            result.kind = Json::Kind::Object;
            ++at_;
            skipSpace();
            if (peek() == '}') {
                ++at_;
                return result;
            }
            do {
                skipSpace();
                const std::string key = string();
                skipSpace();
                expect(':');
                if (!result.members.emplace(key, value()).second) {
                    fail("duplicate key " + key);
                }
                skipSpace();
            } while (peek() == ',' && ++at_);
            expect('}');
        } else if (c == '[') {
            result.kind = Json::Kind::Array;
            ++at_;
            skipSpace();
            if (peek() == ']') {
                ++at_;
                return result;
            }
            do {
                result.items.push_back(value());
                skipSpace();
            } while (peek() == ',' && ++at_);
            expect(']');
        } else if (c == '"') {
            result.kind = Json::Kind::String;
            result.text = string();
        } else if (literal("true") || literal("false")) {
            result.kind = Json::Kind::Bool;
            result.text = text_.compare(at_ - 4, 4, "true") == 0 ? "true" : "false";
        } else if (!literal("null")) {
            result.kind = Json::Kind::Number;
            result.text = number();
        }
        return result;
    }

    std::string number() {
        const std::size_t start = at_;
        auto digits = [this] {
            const std::size_t from = at_;
            while (std::isdigit(static_cast<unsigned char>(peek()))) {
                ++at_;
            }
            if (at_ == from) {
                fail("expected a digit");
            }
        };
        if (peek() == '-') {
            ++at_;
        }
        if (peek() == '0') {
            ++at_;
        } else {
            digits();
        }
        if (peek() == '.') {
            ++at_;
            digits();
        }
        if (peek() == 'e' || peek() == 'E') {
            ++at_;
            if (peek() == '+' || peek() == '-') {
                ++at_;
            }
            digits();
        }
        return text_.substr(start, at_ - start);
    }

    std::string string() {
        expect('"');
        std::string out;
        while (peek() != '"') {
            const char c = peek();
            if (c == '\0' && at_ >= text_.size()) {
                fail("unterminated string");
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                fail("control character in string");
            }
            ++at_;
            if (c != '\\') {
                out += c;
                continue;
            }
            const char escape = peek();
            ++at_;
            switch (escape) {
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '/':
                    out += '/';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    const unsigned code = static_cast<unsigned>(std::stoul(text_.substr(at_, 4), nullptr, 16));
                    at_ += 4;
                    if (code >= 0x80) {
                        fail("non-ASCII \\u escape (not needed by these tests)");
                    }
                    out += static_cast<char>(code);
                    break;
                }
                default:
                    fail("bad escape");
            }
        }
        ++at_;
        return out;
    }

    const std::string& text_;
    std::size_t at_ = 0;
};

}  // namespace zor::test
