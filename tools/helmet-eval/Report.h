// The figures of a run as a table for people and as JSON for programs.
#pragma once

#include "EvalRun.h"

#include <ostream>
#include <string>

namespace zor::eval {

// The class whose false detections on images without it the report names:
// "false helmets per image without hard hats".
inline constexpr const char* kHelmetClass = "helmet";

void printTable(std::ostream& out, const EvalReport& report);

// Every figure; undefined ones (NaN) as null. Numbers read back exactly.
void writeJson(std::ostream& out, const EvalReport& report);

// Shortest text that reads back to `value`; "null" for NaN or infinity.
std::string jsonNumber(double value);
std::string jsonNumber(float value);
std::string jsonString(const std::string& text);

}  // namespace zor::eval
