#include "kqutility/system/KQUEquationPicture.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/KQUTestSupport.h"

namespace kqu {
namespace {

const std::string kSignature("\x00\x98\x0A\x00\xF0\x68\x08\x00", 8);

// creator and descent bytes 14 bytes before a signature at offset, in size bytes.
std::vector<uint8_t> picture(size_t size, size_t offset, const std::string& creator, uint16_t descentPoints) {
    const std::string descent{char(descentPoints >> 8), char(descentPoints & 0xFF)};
    std::string bytes(size, 'x');
    if (offset != std::string::npos) {
        bytes.replace(offset - 14, 4, creator);
        bytes.replace(offset - 10, 2, descent);
        bytes.replace(offset, std::min<size_t>(8, size - offset), kSignature.substr(0, size - offset));
    }
    return {bytes.begin(), bytes.end()};
}

TEST(KQUEquationPicture, FindsTheSignatureAndReadsCreatorAndDescent) {
    // Name, picture, signature offset, creator, descent, is an equation.
    const std::tuple<const char*, std::vector<uint8_t>, uint64_t, uint32_t, float, bool> cases[] = {
        {"at 14: creator from bytes 0-3", picture(40, 14, "MTHU", 0x0005), 14, 0x4D544855u, 5.0f, true},
        {"CWEE, descent 0x0102", picture(300, 200, "CWEE", 0x0102), 200, KQUCWEECreator, 258.0f, true},
        {"other creator", picture(300, 100, "ABCD", 0x0007), 100, 0x41424344, 7.0f, false},
        {"straddling 1024", picture(2000, 1020, "MTHU", 0x0009), 1020, KQUMathTypeCreator, 9.0f, true},
        {"at 1024: not searched", picture(2000, 1024, "MTHU", 0x0009), KQUEgoSignatureNotFound, 0, 0, false},
        {"cut off by the end", picture(30, 25, "MTHU", 0x0009), KQUEgoSignatureNotFound, 0, 0, false},
        {"empty", {}, KQUEgoSignatureNotFound, 0, 0, false},
    };
    for (const auto& [name, bytes, offset, creator, descent, equation] : cases)
        EXPECT_EQ(std::tuple(KQUPictDataGetEgoSignatureOffset(bytes), KQUEgoPictGetCreator(bytes),
                             KQUEgoPictGetDescent(bytes), KQUPictDataIsEgoEquation(bytes)),
                  std::tuple(offset, creator, descent, equation))
            << name;
}

}  // namespace
}  // namespace kqu
