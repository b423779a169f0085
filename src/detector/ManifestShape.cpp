#include "ManifestShape.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <string_view>

namespace zor::hmd {
namespace {

// Reads one line of a manifest from the left; each step consumes what it
// accepts and says whether it did.
class LineReader {
public:
    explicit LineReader(std::string_view line) : line_(line) {}

    bool atEnd() const { return at_ == line_.size(); }
    void skipSpaces() {
        while (!atEnd() && (line_[at_] == ' ' || line_[at_] == '\t')) {
            ++at_;
        }
    }
    bool take(char c) {
        if (atEnd() || line_[at_] != c) {
            return false;
        }
        ++at_;
        return true;
    }
    bool take(std::string_view text) {
        if (line_.substr(at_, text.size()) != text) {
            return false;
        }
        at_ += text.size();
        return true;
    }
    // Whether a comment follows after spaces.
    bool commentFollows() const {
        LineReader ahead = *this;
        return ahead.takeRest() && !ahead.atEnd();
    }
    // Whether the last scalar taken was unquoted text, not a number: OpenCV's
    // reader makes a comment after it part of the text.
    bool tookPlainText() const { return plainText_; }
    // Spaces, then a comment or nothing up to the end of the line.
    bool takeRest() {
        const size_t before = at_;
        skipSpaces();
        return atEnd() || (line_[at_] == '#' && (at_ > before || at_ == 0));
    }
    bool takeKey() {
        const size_t from = at_;
        while (!atEnd() && (std::isalnum(static_cast<unsigned char>(line_[at_])) || line_[at_] == '_')) {
            ++at_;
        }
        return at_ > from && !std::isdigit(static_cast<unsigned char>(line_[from]));
    }
    // A quoted text without escapes, or a plain word run: letters, digits,
    // UTF-8, "_.+-/" and single spaces between them.
    bool takeScalar() {
        plainText_ = false;
        if (take('"') || take('\'')) {
            const char quote = line_[at_ - 1];
            while (!atEnd() && line_[at_] != quote && line_[at_] != '\\' &&
                   static_cast<unsigned char>(line_[at_]) >= 0x20) {
                ++at_;
            }
            return take(quote);
        }
        const size_t from = at_;
        while (!atEnd() && isPlain(line_[at_])) {
            ++at_;
            if (at_ + 1 < line_.size() && line_[at_] == ' ' && isPlain(line_[at_ + 1])) {
                ++at_;
            }
        }
        double number = 0.0;
        const char* end = line_.data() + at_;
        plainText_ = std::from_chars(line_.data() + from, end, number).ptr != end;
        // "-" alone or "- x" would start a list.
        return at_ > from && !(line_[from] == '-' && (at_ - from == 1 || line_[from + 1] == ' '));
    }
    // A scalar, or a one-line [list] of scalars.
    bool takeValue() {
        if (!take('[')) {
            return takeScalar();
        }
        skipSpaces();
        if (!take(']')) {
            do {
                skipSpaces();
                if (!takeScalar()) {
                    return false;
                }
                skipSpaces();
            } while (take(','));
            if (!take(']')) {
                return false;
            }
        }
        plainText_ = false;
        return true;
    }

private:
    static bool isPlain(char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || static_cast<unsigned char>(c) >= 0x80 || c == '_' ||
               c == '.' || c == '+' || c == '-' || c == '/';
    }

    std::string_view line_;
    size_t at_ = 0;
    bool plainText_ = false;
};

enum class LineKind { Other, CommentInText, Nothing, Directive, Marker, Key, KeyWithValue, Item };

// `kind` when the value was taken and only spaces or a comment follow it.
LineKind afterValue(LineReader& reader, bool taken, LineKind kind) {
    if (!taken) {
        return LineKind::Other;
    }
    if (reader.tookPlainText() && reader.commentFollows()) {
        return LineKind::CommentInText;
    }
    return reader.takeRest() ? kind : LineKind::Other;
}

// What one line of a manifest is; `indent` is an item's indentation.
LineKind lineKind(std::string_view line, size_t& indent) {
    if (LineReader directive(line); directive.take("%YAML")) {
        return (directive.take(":1.0") || directive.take(" 1.0")) && directive.takeRest() ? LineKind::Directive
                                                                                          : LineKind::Other;
    }
    if (LineReader marker(line); marker.take("---")) {
        return marker.takeRest() ? LineKind::Marker : LineKind::Other;
    }
    if (LineReader entry(line); entry.takeKey()) {
        if (!entry.take(':')) {
            return LineKind::Other;
        }
        if (LineReader rest = entry; rest.takeRest()) {
            return LineKind::Key;  // its list follows
        }
        if (!entry.take(' ') && !entry.take('\t')) {
            return LineKind::Other;
        }
        entry.skipSpaces();
        return afterValue(entry, entry.takeValue(), LineKind::KeyWithValue);
    }
    indent = line.find_first_not_of(" ");
    if (LineReader item(line); (item.skipSpaces(), item.take("- ") || item.take("-\t"))) {
        item.skipSpaces();
        return afterValue(item, item.takeScalar(), LineKind::Item);
    }
    return LineReader(line).takeRest() ? LineKind::Nothing : LineKind::Other;
}

// Whether a '%' stands anywhere but at the start of the first line: a
// manifest needs none, and OpenCV's reader has looped on one inside text.
bool hasStrayDirective(const std::string& text) {
    return text.find('%', 1) != std::string::npos;
}

}  // namespace

// OpenCV's YAML reader loops for ever on some texts outside this shape
// (fuzzing found five: a '%' or text after the document marker, an indented
// marker, a quote opened mid-word) and recurses once per nesting level with
// no limit, so nothing else reaches it.
std::string manifestShapeProblem(const std::string& text) {
    if (hasStrayDirective(text)) {
        return "a '%' may only start the first line (%YAML:1.0)";
    }
    std::string_view rest(text);
    LineKind last = LineKind::Nothing;  // the last line that was not blank
    bool keysBegan = false;
    bool markerSeen = false;
    size_t listIndent = 0;
    for (int number = 1; !rest.empty(); ++number) {
        const size_t end = std::min(rest.find('\n'), rest.size());
        std::string_view line = rest.substr(0, end);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        rest.remove_prefix(std::min(end + 1, rest.size()));
        size_t indent = 0;
        const LineKind kind = lineKind(line, indent);
        bool fits = kind != LineKind::Other;
        if (kind == LineKind::Directive) {
            fits = number == 1;
        } else if (kind == LineKind::Marker) {
            fits = !keysBegan && !markerSeen;
            markerSeen = true;
        } else if (kind == LineKind::Item) {
            fits = last == LineKind::Key || (last == LineKind::Item && indent == listIndent);
            listIndent = indent;
        }
        if (kind == LineKind::CommentInText) {
            return "line " + std::to_string(number) +
                   ": a comment after an unquoted text would become part of the text; quote the text";
        }
        if (!fits) {
            return "line " + std::to_string(number) +
                   " does not fit a manifest (%YAML:1.0, ---, key: value, - item under a key, a comment)";
        }
        keysBegan = keysBegan || kind == LineKind::Key || kind == LineKind::KeyWithValue;
        last = kind == LineKind::Nothing ? last : kind;
    }
    return {};
}

}  // namespace zor::hmd
