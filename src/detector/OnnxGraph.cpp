#include "OnnxGraph.h"

#include <cstring>
#include <stdexcept>

namespace zor::hmd {
namespace {

struct WireError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One length-delimited message of the protobuf wire format.
class WireReader {
public:
    WireReader(const unsigned char* begin, const unsigned char* end) : pos_(begin), end_(end) {}

    bool done() const { return pos_ >= end_; }

    // Field number and wire type of the next field.
    bool next(uint32_t& field, uint32_t& wireType) {
        if (done()) {
            return false;
        }
        const uint64_t key = varint();
        field = static_cast<uint32_t>(key >> 3);
        wireType = static_cast<uint32_t>(key & 7);
        return true;
    }

    uint64_t varint() {
        uint64_t value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (pos_ >= end_) {
                throw WireError("truncated number");
            }
            const unsigned char byte = *pos_++;
            value |= static_cast<uint64_t>(byte & 0x7f) << shift;
            if ((byte & 0x80) == 0) {
                return value;
            }
        }
        throw WireError("malformed number");
    }

    WireReader message() {
        const uint64_t length = varint();
        if (length > static_cast<uint64_t>(end_ - pos_)) {
            throw WireError("truncated field");
        }
        WireReader inner(pos_, pos_ + length);
        pos_ += length;
        return inner;
    }

    std::string text() {
        const WireReader inner = message();
        return std::string(reinterpret_cast<const char*>(inner.pos_), inner.end_ - inner.pos_);
    }

    float fixed32Float() {
        if (end_ - pos_ < 4) {
            throw WireError("truncated number");
        }
        float value;
        std::memcpy(&value, pos_, 4);
        pos_ += 4;
        return value;
    }

    void skip(uint32_t wireType) {
        switch (wireType) {
            case 0:
                varint();
                return;
            case 1:
                advance(8);
                return;
            case 2:
                message();
                return;
            case 5:
                advance(4);
                return;
            default:
                throw WireError("unsupported wire type " + std::to_string(wireType));
        }
    }

    // A repeated integer field, packed or not.
    void ints(uint32_t wireType, std::vector<int64_t>& values) {
        if (wireType == 2) {
            WireReader packed = message();
            while (!packed.done()) {
                values.push_back(static_cast<int64_t>(packed.varint()));
            }
        } else {
            values.push_back(static_cast<int64_t>(varint()));
        }
    }

    void floats(uint32_t wireType, std::vector<float>& values) {
        if (wireType == 2) {
            WireReader packed = message();
            while (!packed.done()) {
                values.push_back(packed.fixed32Float());
            }
        } else {
            values.push_back(fixed32Float());
        }
    }

    void doubles(uint32_t wireType, std::vector<float>& values) {
        auto one = [&values](WireReader& reader) {
            if (reader.end_ - reader.pos_ < 8) {
                throw WireError("truncated number");
            }
            double value;
            std::memcpy(&value, reader.pos_, 8);
            reader.pos_ += 8;
            values.push_back(static_cast<float>(value));
        };
        if (wireType == 2) {
            WireReader packed = message();
            while (!packed.done()) {
                one(packed);
            }
        } else {
            one(*this);
        }
    }

private:
    void advance(size_t count) {
        if (static_cast<size_t>(end_ - pos_) < count) {
            throw WireError("truncated field");
        }
        pos_ += count;
    }

    const unsigned char* pos_;
    const unsigned char* end_;
};

template <typename T>
void appendRaw(const std::string& raw, std::vector<T>& values, size_t width, auto convert) {
    if (raw.size() % width != 0) {
        throw WireError("raw tensor data of odd length");
    }
    for (size_t offset = 0; offset < raw.size(); offset += width) {
        values.push_back(convert(raw.data() + offset));
    }
}

OnnxTensor readTensor(WireReader reader) {
    OnnxTensor tensor;
    std::string raw;
    std::vector<int64_t> int32Data;
    uint32_t field, wireType;
    while (reader.next(field, wireType)) {
        switch (field) {
            case 1:
                reader.ints(wireType, tensor.dims);
                break;
            case 2:
                tensor.dataType = static_cast<int>(reader.varint());
                break;
            case 4:
                reader.floats(wireType, tensor.floats);
                break;
            case 5:
                reader.ints(wireType, int32Data);
                break;
            case 7:
                reader.ints(wireType, tensor.ints);
                break;
            case 8:
                tensor.name = reader.text();
                break;
            case 9:
                raw = reader.text();
                break;
            case 10:
                reader.doubles(wireType, tensor.floats);
                break;
            case 14:
                tensor.external = reader.varint() == 1;
                break;
            default:
                reader.skip(wireType);
        }
    }
    // int32_data holds every integer type narrower than 64 bits; keep Int32 only.
    if (tensor.dataType == static_cast<int>(OnnxType::Int32)) {
        for (const int64_t value : int32Data) {
            tensor.ints.push_back(static_cast<int32_t>(value));
        }
    }
    if (!raw.empty()) {
        switch (static_cast<OnnxType>(tensor.dataType)) {
            case OnnxType::Float:
                appendRaw(raw, tensor.floats, 4, [](const char* p) {
                    float v;
                    std::memcpy(&v, p, 4);
                    return v;
                });
                break;
            case OnnxType::Double:
                appendRaw(raw, tensor.floats, 8, [](const char* p) {
                    double v;
                    std::memcpy(&v, p, 8);
                    return static_cast<float>(v);
                });
                break;
            case OnnxType::Int64:
                appendRaw(raw, tensor.ints, 8, [](const char* p) {
                    int64_t v;
                    std::memcpy(&v, p, 8);
                    return v;
                });
                break;
            case OnnxType::Int32:
                appendRaw(raw, tensor.ints, 4, [](const char* p) {
                    int32_t v;
                    std::memcpy(&v, p, 4);
                    return static_cast<int64_t>(v);
                });
                break;
            default:
                break;  // other types stay empty; the backend refuses them where used
        }
    }
    return tensor;
}

OnnxAttribute readAttribute(WireReader reader) {
    OnnxAttribute attribute;
    uint32_t field, wireType;
    while (reader.next(field, wireType)) {
        switch (field) {
            case 1:
                attribute.name = reader.text();
                break;
            case 2:
                attribute.f = reader.fixed32Float();
                break;
            case 3:
                attribute.i = static_cast<int64_t>(reader.varint());
                break;
            case 4:
                attribute.s = reader.text();
                break;
            case 5:
                attribute.tensors.push_back(readTensor(reader.message()));
                break;
            case 7:
                reader.floats(wireType, attribute.floats);
                break;
            case 8:
                reader.ints(wireType, attribute.ints);
                break;
            default:
                reader.skip(wireType);
        }
    }
    return attribute;
}

OnnxNode readNode(WireReader reader) {
    OnnxNode node;
    uint32_t field, wireType;
    while (reader.next(field, wireType)) {
        switch (field) {
            case 1:
                node.inputs.push_back(reader.text());
                break;
            case 2:
                node.outputs.push_back(reader.text());
                break;
            case 3:
                node.name = reader.text();
                break;
            case 4:
                node.opType = reader.text();
                break;
            case 5:
                node.attributes.push_back(readAttribute(reader.message()));
                break;
            case 7:
                node.domain = reader.text();
                break;
            default:
                reader.skip(wireType);
        }
    }
    return node;
}

std::string readValueName(WireReader reader) {
    std::string name;
    uint32_t field, wireType;
    while (reader.next(field, wireType)) {
        if (field == 1) {
            name = reader.text();
        } else {
            reader.skip(wireType);
        }
    }
    return name;
}

void readGraph(WireReader reader, OnnxGraph& graph) {
    uint32_t field, wireType;
    while (reader.next(field, wireType)) {
        switch (field) {
            case 1:
                graph.nodes.push_back(readNode(reader.message()));
                break;
            case 5:
                graph.initializers.push_back(readTensor(reader.message()));
                break;
            case 11:
                graph.inputs.push_back(readValueName(reader.message()));
                break;
            case 12:
                graph.outputs.push_back(readValueName(reader.message()));
                break;
            default:
                reader.skip(wireType);
        }
    }
}

}  // namespace

const OnnxAttribute* OnnxNode::attribute(const std::string& attributeName) const {
    for (const OnnxAttribute& candidate : attributes) {
        if (candidate.name == attributeName) {
            return &candidate;
        }
    }
    return nullptr;
}

int64_t OnnxNode::intOr(const std::string& attributeName, int64_t fallback) const {
    const OnnxAttribute* found = attribute(attributeName);
    return found ? found->i : fallback;
}

float OnnxNode::floatOr(const std::string& attributeName, float fallback) const {
    const OnnxAttribute* found = attribute(attributeName);
    return found ? found->f : fallback;
}

std::string OnnxNode::textOr(const std::string& attributeName, const std::string& fallback) const {
    const OnnxAttribute* found = attribute(attributeName);
    return found ? found->s : fallback;
}

std::vector<int64_t> OnnxNode::intsOr(const std::string& attributeName, std::vector<int64_t> fallback) const {
    const OnnxAttribute* found = attribute(attributeName);
    return found ? found->ints : std::move(fallback);
}

bool parseOnnx(const std::vector<unsigned char>& bytes, OnnxGraph& graph, std::string& error) {
    OnnxGraph parsed;
    bool haveGraph = false;
    try {
        WireReader reader(bytes.data(), bytes.data() + bytes.size());
        uint32_t field, wireType;
        while (reader.next(field, wireType)) {
            if (field == 7 && wireType == 2) {
                readGraph(reader.message(), parsed);
                haveGraph = true;
            } else if (field == 8 && wireType == 2) {
                WireReader opset = reader.message();
                std::string domain;
                int64_t version = 0;
                uint32_t inner, innerType;
                while (opset.next(inner, innerType)) {
                    if (inner == 1) {
                        domain = opset.text();
                    } else if (inner == 2) {
                        version = static_cast<int64_t>(opset.varint());
                    } else {
                        opset.skip(innerType);
                    }
                }
                if (domain.empty() || domain == "ai.onnx") {
                    parsed.opset = version;
                }
            } else {
                reader.skip(wireType);
            }
        }
    } catch (const WireError& e) {
        error = std::string("not an ONNX model: ") + e.what();
        return false;
    }
    if (!haveGraph || parsed.nodes.empty()) {
        error = "the ONNX model holds no graph";
        return false;
    }
    graph = std::move(parsed);
    return true;
}

}  // namespace zor::hmd
