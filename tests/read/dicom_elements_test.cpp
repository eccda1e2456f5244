// The walk that checks a DICOM file's claimed lengths before GDCM sees it:
// sound files in each way of writing elements pass; a length past the file,
// an unknown value representation, cut fragments and endless nesting fail.
#include <gtest/gtest.h>

#include "read/dicom_elements.h"

#include <string>

namespace {

std::string u16(uint32_t v) {
    return std::string{char(v & 0xff), char(v >> 8 & 0xff)};
}

std::string u32(uint32_t v) {
    return u16(v & 0xffff) + u16(v >> 16);
}

// An explicit VR little endian element.
std::string element(uint32_t group, uint32_t number, const char* vr, const std::string& value,
                    uint32_t length = 0xfffffffe) {
    const bool longHeader = std::string("OBOWSQUNUT").find(vr) != std::string::npos;
    const uint32_t stated = length == 0xfffffffe ? uint32_t(value.size()) : length;
    return u16(group) + u16(number) + vr + (longHeader ? u16(0) + u32(stated) : u16(stated)) +
           value;
}

std::string implicitElement(uint32_t group, uint32_t number, const std::string& value) {
    return u16(group) + u16(number) + u32(uint32_t(value.size())) + value;
}

std::string file(const std::string& syntax, const std::string& dataSet) {
    return std::string(128, '\0') + "DICM" + element(2, 0x10, "UI", syntax) + dataSet;
}

const std::string explicitLittle = std::string("1.2.840.10008.1.2.1") + '\0';

bool fits(const std::string& bytes, std::string& problem) {
    return dicomBytesFit(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 1 << 20,
                         problem);
}

} // namespace

TEST(DicomElements, SoundFilesPassInEachWayOfWritingElements) {
    std::string problem;
    const std::string pixels = element(0x7fe0, 0x10, "OW", std::string(8, '\1'));
    EXPECT_TRUE(fits(file(explicitLittle, element(0x28, 0x10, "US", u16(2)) + pixels), problem))
        << problem;
    // Implicit VR: lengths of four bytes, no value representation.
    EXPECT_TRUE(fits(file("1.2.840.10008.1.2", implicitElement(0x28, 0x10, u16(2)) +
                                                   implicitElement(0x7fe0, 0x10, "12345678")),
                     problem))
        << problem;
    // A sequence of two items of stated length, then compressed fragments.
    const std::string item =
        u16(0xfffe) + u16(0xe000) + u32(12) + element(0x20, 0x32, "DS", "1\\2 ");
    const std::string fragments =
        u16(0xfffe) + u16(0xe000) + u32(4) + "abcd" + u16(0xfffe) + u16(0xe0dd) + u32(0);
    EXPECT_TRUE(fits(file(explicitLittle, element(0x5200, 0x9230, "SQ", item + item) +
                                              element(0x7fe0, 0x10, "OB", fragments, 0xffffffff)),
                     problem))
        << problem;
}

TEST(DicomElements, ClaimsPastWhatHoldsThemFail) {
    std::string problem;
    EXPECT_FALSE(fits(file(explicitLittle, element(0x7fe0, 0x10, "OW", "1234", 8)), problem));
    EXPECT_EQ(problem, "has an element (7FE0,0010) that claims 8 bytes; 4 follow it");
    EXPECT_FALSE(fits(file(explicitLittle, element(0x08, 0x70, "TH", "ab")), problem));
    EXPECT_NE(problem.find("(0008,0070) with no value representation"), std::string::npos)
        << problem;
    // An item whose element claims past the item, though not past the file.
    const std::string item =
        u16(0xfffe) + u16(0xe000) + u32(10) + element(0x20, 0x32, "DS", "12", 6);
    EXPECT_FALSE(fits(file(explicitLittle,
                           element(0x5200, 0x9230, "SQ", item) + element(0x08, 0x70, "LO", "abcd")),
                      problem));
    EXPECT_NE(problem.find("(0020,0032) that claims 6 bytes; 2 follow it"), std::string::npos)
        << problem;
    const std::string cut = u16(0xfffe) + u16(0xe000) + u32(40) + "abcd";
    EXPECT_FALSE(fits(file(explicitLittle, element(0x7fe0, 0x10, "OB", cut, 0xffffffff)), problem));
    EXPECT_NE(problem.find("fragment of compressed pixel data that claims 40"), std::string::npos)
        << problem;
    const std::string undelimited = u16(0xfffe) + u16(0xe000) + u32(4) + "abcd";
    EXPECT_FALSE(
        fits(file(explicitLittle, element(0x7fe0, 0x10, "OB", undelimited, 0xffffffff)), problem));
    EXPECT_NE(problem.find("ends before its last fragment"), std::string::npos) << problem;
    EXPECT_FALSE(fits(std::string(200, '\0'), problem));
    EXPECT_NE(problem.find("no \"DICM\""), std::string::npos) << problem;
}

TEST(DicomElements, EndlessNestingFails) {
    std::string nested = element(0x08, 0x70, "LO", "ab");
    for (int depth = 0; depth < 70; ++depth) {
        const std::string item = u16(0xfffe) + u16(0xe000) + u32(uint32_t(nested.size())) + nested;
        nested = element(0x5200, 0x9230, "SQ", item);
    }
    std::string problem;
    EXPECT_FALSE(fits(file(explicitLittle, nested), problem));
    EXPECT_NE(problem.find("more than 64 deep"), std::string::npos) << problem;
}
