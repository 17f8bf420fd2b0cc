// kqu zip rm on a package made by Info-ZIP zip: the result holds no free space, also none
// left by earlier saves.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <filesystem>

#include "tests/support/KQUTestSupport.h"

using namespace kqu::test;
namespace fs = std::filesystem;

TEST(KQUZipRemoveCommand, CopiesKeptEntriesAsStoredAndLeavesNoFreeSpace) {
    // (That kept entries keep their records, dates and modes, checked with zipinfo -v, is
    // KquZipRemove's.) Free space left by an earlier save (a free-space entry) is dropped
    // as well, and the package holds exactly its entries: headers, data and the directory.
    TempDir dir;
    fs::create_directories(dir.file("pkg"));
    writeFile(dir.file("pkg/index.xml"), "<index>" + std::string(3000, 'x') + "</index>");
    writeFile(dir.file("pkg/random.bin"), patternBytes(70000, 3));
    std::string archive = dir.file("a.zip"), output;
    ASSERT_EQ(runCommand(fmt::format("cd '{}' && zip -qX a.zip pkg/index.xml && zip -qX0 a.zip pkg/random.bin && "
                                     "python3 -c \"import sys, zipfile; z = zipfile.ZipFile(sys.argv[1], 'a'); "
                                     "z.writestr('.QlTrash/00000001', bytes(900)); z.writestr('extra', b'x')\" a.zip",
                                     dir.path())),
              0);
    ASSERT_EQ(runCommand(fmt::format("'{}' zip rm --quiet '{}' extra 2>&1", KQU_TOOL_PATH, archive), &output), 0)
        << output;
    ASSERT_EQ(runCommand(fmt::format(R"(python3 -c "
import os, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
names = [i.filename for i in z.infolist()]
need = sum(30 + len(i.filename) + i.compress_size + 46 + len(i.filename) for i in z.infolist()) + 22
print(' '.join(names), os.path.getsize(sys.argv[1]) - need, z.testzip())
" '{}')",
                                     archive),
                         &output),
              0);
    EXPECT_EQ(output, "pkg/index.xml pkg/random.bin 0 None\n");
}
