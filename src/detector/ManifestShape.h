// The shape of text a manifest may have, checked before OpenCV's YAML reader
// sees it.
#pragma once

#include <string>

namespace zor::hmd {

// Empty when `text` has a manifest's shape: the "%YAML:1.0" directive on the
// first line, one document marker before the first key, comments, "key: value"
// with a number, a text or a one-line [list] as value, and "- item" lines,
// equally indented, of a list under a key without a value. Otherwise the
// first line that does not fit, and why.
std::string manifestShapeProblem(const std::string& text);

}  // namespace zor::hmd
