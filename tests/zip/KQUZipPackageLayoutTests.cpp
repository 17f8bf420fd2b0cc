// The package layout over archives built byte by byte, with every range's place
// computed by hand from the record sizes: headers 30 + name, the central record 46 +
// name (+ its Zip64 field), the end record 22 + comment, Zip64 record 56, locator 20.
#include <gtest/gtest.h>

#include "kqutility/zip/KQUZipPackageLayout.h"
#include "tests/support/KQUZipTestBuilder.h"

namespace {

using namespace kqu;
using kqu::test::TestEntry;
using Kind = KQUZipLayoutKind;

struct Expected {
    uint64_t offset, length;
    Kind kind;
    std::string entry;  // empty: no entry
};

// The ranges, and that they end at the end of the file.
void expectLayout(const std::string& bytes, const std::vector<Expected>& expected) {
    KQUZipArchive archive(KQUMakeData(KQUData(bytes.begin(), bytes.end())));
    auto ranges = KQUZipPackageLayout(archive);
    ASSERT_EQ(ranges.size(), expected.size());
    for (size_t i = 0; i < ranges.size(); ++i) {
        const auto& [offset, length, kind, entry] = expected[i];
        EXPECT_EQ(
            std::tuple(ranges[i].offset, ranges[i].length, std::string(KQUZipLayoutKindName(ranges[i].kind)),
                       ranges[i].entry ? ranges[i].entry->name() : ""),
            std::tuple(offset, length, std::string(KQUZipLayoutKindName(kind)), entry))
            << i;
    }
    EXPECT_EQ(ranges.back().offset + ranges.back().length, bytes.size());
}

TEST(KQUZipPackageLayout, RangesCoverEveryRecordInOffsetOrder) {
    const std::string deflated = kqu::test::rawDeflate(std::string(100, 'x'));
    const uint64_t s = deflated.size();

    // 1: a stored entry, 7 bytes nobody claims, a deflated entry followed by a data
    // descriptor (with signature), a directory, an end record with a 4-byte comment.
    kqu::test::ZipByteBuilder builder;
    std::string one = builder.add({.name = "a.txt", .data = "hello"}) + "JUNKJUN";
    one += builder.add(
        {.name = "b.txt", .data = std::string(100, 'x'), .deflate = true, .flags = 8, .offset = 47});
    kqu::test::putFields(one,
                         {{0x08074B50, 4}, {kqu::test::zlibCrc(std::string(100, 'x')), 4}, {s, 4}, {100, 4}});
    one += builder.finish({.comment = "note", .directoryOffset = static_cast<uint32_t>(98 + s)});
    // 2: an entry with the library's encrypted stored method, a free-space entry, a
    // directory entry with no data, and Zip64 end records.
    std::string two =
        kqu::test::buildArchive({{.name = "c.bin", .data = "0123456789abcdef", .method = 0x636B},
                                 {.name = ".QlTrash/00000001", .data = std::string(10, '\0')},
                                 {.name = "dir/", .data = ""}},
                                {.zip64End = true});
    const uint64_t directoryTwo = 35 + 16 + 57 + 34;
    const uint64_t directoryTwoSize = (46 + 5) + (46 + 17) + (46 + 4);

    struct Case {
        const char* what;
        std::string bytes;
        std::vector<Expected> ranges;
    } cases[] = {
        {"gap, descriptor, comment",
         one,
         {{0, 35, Kind::LocalHeader, "a.txt"},
          {35, 5, Kind::StoredData, "a.txt"},
          {40, 7, Kind::Unknown, ""},
          {47, 35, Kind::LocalHeader, "b.txt"},
          {82, s, Kind::DeflatedData, "b.txt"},
          {82 + s, 16, Kind::DataDescriptor, "b.txt"},
          {98 + s, 102, Kind::CentralDirectory, ""},
          {200 + s, 26, Kind::EndRecord, ""}}},
        {"encrypted, free space, empty entry, Zip64 end",
         two,
         {{0, 35, Kind::LocalHeader, "c.bin"},
          {35, 16, Kind::EncryptedData, "c.bin"},
          {51, 57, Kind::FreeSpace, ".QlTrash/00000001"},
          {108, 34, Kind::LocalHeader, "dir/"},
          {directoryTwo, directoryTwoSize, Kind::CentralDirectory, ""},
          {directoryTwo + directoryTwoSize, 56, Kind::Zip64EndRecord, ""},
          {directoryTwo + directoryTwoSize + 56, 20, Kind::Zip64EndLocator, ""},
          {directoryTwo + directoryTwoSize + 76, 22, Kind::EndRecord, ""}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        expectLayout(c.bytes, c.ranges);
    }
}

TEST(KQUZipPackageLayout, DamagedPlacesBecomeUnknownWithoutOverlap) {
    // "a" says a descriptor follows its data, but "b" starts there: the descriptor's 12
    // bytes come first and b's header is cut to start after them, never counted twice.
    // "c" has a broken local header signature: its bytes are claimed by nothing.
    kqu::test::ZipByteBuilder builder;
    std::string bytes = builder.add({.name = "a", .data = "12345", .flags = 8});
    bytes += builder.add({.name = "b", .data = "67890"});
    bytes += builder.add({.name = "c", .data = "abcde", .localSignature = 0x01020304});
    bytes += builder.finish();
    expectLayout(bytes, {{0, 31, Kind::LocalHeader, "a"},
                         {31, 5, Kind::StoredData, "a"},
                         {36, 12, Kind::DataDescriptor, "a"},
                         {48, 19, Kind::LocalHeader, "b"},
                         {67, 5, Kind::StoredData, "b"},
                         {72, 36, Kind::Unknown, ""},
                         {108, 3 * 47, Kind::CentralDirectory, ""},
                         {249, 22, Kind::EndRecord, ""}});
}

}  // namespace
