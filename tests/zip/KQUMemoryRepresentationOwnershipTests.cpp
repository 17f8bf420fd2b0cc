// Memory data representations and memory archives keep bytes the caller cannot change:
// a caller that goes on using (or reallocating) its own buffer after handing it over must
// not change length, equality, hash or archive contents (before, this read freed memory).
#include <gtest/gtest.h>

#include "kqutility/data/KQUDataRepresentation.h"
#include "kqutility/zip/KQUZipArchive.h"
#include "kqutility/zip/KQUZipEntry.h"
#include "tests/support/KQUTestSupport.h"
#include "tests/zip/ZipReaderTestArchive.h"

using namespace kqu;

TEST(KQUMemoryRepresentationOwnership, CallerChangingItsBufferChangesNothing) {
    std::string text = test::patternBytes(5000, 3);
    std::string zip = test::buildArchive({{.name = "doc.xml", .data = text, .deflate = true}});

    auto plain = std::make_shared<KQUData>(text.begin(), text.end());
    auto archiveBytes = std::make_shared<KQUData>(zip.begin(), zip.end());
    KQUMemoryDataRepresentation representation(plain);
    KQUZipArchive archive(archiveBytes);
    const uint32_t hashBefore = representation.hash();
    KQUMemoryDataRepresentation same(KQUMakeData(text));
    auto earlyStream = representation.inputStream();  // lent the bytes before the caller changes them

    // The caller reuses its buffers: overwrites them, then grows them (reallocation).
    std::fill(plain->begin(), plain->end(), 'x');
    std::fill(archiveBytes->begin(), archiveBytes->end(), 0);
    plain->resize(plain->size() * 8, 'y');
    archiveBytes->resize(archiveBytes->size() * 8);
    plain->shrink_to_fit();

    std::string early(5000, '\0');
    EXPECT_EQ(earlyStream->readToBuffer(early.data(), 5000), 5000u);
    EXPECT_EQ(early, text);
    EXPECT_EQ(representation.dataLength(), 5000);
    EXPECT_TRUE(representation.isEqual(same));
    EXPECT_EQ(representation.hash(), hashBefore);
    auto entry = archive.entryWithName("doc.xml");
    ASSERT_NE(entry, nullptr);
    auto data = entry->data();  // inflates and checks the CRC
    EXPECT_EQ(std::string(data->begin(), data->end()), text);

    // A sealed block is shared, not copied.
    auto sealed = KQUMakeData(text);
    EXPECT_TRUE(KQUMemoryDataRepresentation(sealed).hasSameLocationAs(KQUMemoryDataRepresentation(sealed)));
}
