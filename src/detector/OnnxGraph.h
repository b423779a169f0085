// The parts of an ONNX model file that the oneDNN backend needs: nodes,
// attributes, weights and the graph's inputs and outputs. Read straight from
// the protobuf wire format, so the library needs no protobuf or onnx runtime.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zor::hmd {

// Element types as ONNX numbers them.
enum class OnnxType { Undefined = 0, Float = 1, Int32 = 6, Int64 = 7, Double = 11 };

struct OnnxTensor {
    std::string name;
    std::vector<int64_t> dims;
    int dataType = 0;
    std::vector<float> floats;  // Float and Double tensors
    std::vector<int64_t> ints;  // Int32 and Int64 tensors
    bool external = false;      // weights kept in another file: not supported
};

struct OnnxAttribute {
    std::string name;
    float f = 0.0f;
    int64_t i = 0;
    std::string s;
    std::vector<float> floats;
    std::vector<int64_t> ints;
    std::vector<OnnxTensor> tensors;  // the `t` field, when present
};

struct OnnxNode {
    std::string opType;
    std::string domain;
    std::string name;
    std::vector<std::string> inputs;
    std::vector<std::string> outputs;
    std::vector<OnnxAttribute> attributes;

    const OnnxAttribute* attribute(const std::string& attributeName) const;
    int64_t intOr(const std::string& attributeName, int64_t fallback) const;
    float floatOr(const std::string& attributeName, float fallback) const;
    std::string textOr(const std::string& attributeName, const std::string& fallback) const;
    std::vector<int64_t> intsOr(const std::string& attributeName, std::vector<int64_t> fallback) const;
};

struct OnnxGraph {
    int64_t opset = 0;  // of the default domain
    std::vector<OnnxNode> nodes;
    std::vector<OnnxTensor> initializers;
    std::vector<std::string> inputs;  // initializers listed as inputs included
    std::vector<std::string> outputs;
};

// False with the cause in `error` when `bytes` is not a readable ONNX model.
bool parseOnnx(const std::vector<unsigned char>& bytes, OnnxGraph& graph, std::string& error);

}  // namespace zor::hmd
