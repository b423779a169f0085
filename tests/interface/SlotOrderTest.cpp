// The virtual functions' slots, read through pointers to members, against the
// documented order: a library built to that order must find each function in
// its slot. The Itanium C++ ABI (GCC, Clang, MinGW) stores a pointer to a
// virtual member as 1 + the slot's byte offset in the virtual table.
#include "IZORCustomClass.h"
#include "ZORCustomHMD.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

struct ItaniumMemberPointer {
    std::uintptr_t pointer;
    std::ptrdiff_t adjustment;
};

template <typename MemberPointer>
std::ptrdiff_t slotOf(MemberPointer member) {
    static_assert(sizeof(MemberPointer) == sizeof(ItaniumMemberPointer));
    ItaniumMemberPointer raw{};
    std::memcpy(&raw, &member, sizeof raw);
    if ((raw.pointer & 1u) == 0) {
        return -1;  // not virtual
    }
    return static_cast<std::ptrdiff_t>((raw.pointer - 1) / sizeof(void*));
}

using Objects = std::vector<CustomObject>;

template <typename Class>
void expectDocumentedSlots() {
    EXPECT_EQ(slotOf(static_cast<bool (Class::*)(const std::string&, float, std::string&)>(&Class::Initialize)), 0);
    EXPECT_EQ(slotOf(static_cast<bool (Class::*)(bool)>(&Class::OptimizeModel)), 1);
    EXPECT_EQ(slotOf(static_cast<Objects (Class::*)(const cv::Mat&, const std::string&)>(&Class::RunInference)), 2);
    EXPECT_EQ(slotOf(static_cast<Objects (Class::*)(const cv::Mat&)>(&Class::RunInference)), 3);
    EXPECT_EQ(slotOf(static_cast<bool (Class::*)(CustomParams&)>(&Class::ConfigureParameters)), 4);
    EXPECT_EQ(slotOf(static_cast<bool (Class::*)()>(&Class::Destroy)), 5);
}

}  // namespace

#if (defined(__x86_64__) || defined(__i386__)) && !defined(_MSC_VER)
TEST(SlotOrder, BaseClassHasTheDocumentedSlots) {
    expectDocumentedSlots<IZORCustomClass>();
}

TEST(SlotOrder, HelmetDetectorKeepsThem) {
    expectDocumentedSlots<ZORCustomHMD>();
}
#endif
