// kqu zip rm on an Info-ZIP package: the result holds no free space, also none left by earlier saves.
#include <gtest/gtest.h>

#include "tool/KQUToolTestRunner.h"

using namespace kqu::test;

TEST(KQUZipRemoveCommand, CopiesKeptEntriesAsStoredAndLeavesNoFreeSpace) {
    // Exactly headers, data and directory remain (records, dates and modes are KquZipRemove's).
    TempDir dir;
    writeFiles(dir, {{"pkg/index.xml", "<index>" + std::string(3000, 'x') + "</index>"}});
    writeFile(dir.file("pkg/random.bin"), patternBytes(70000, 3));
    const std::string cd = "cd " + sq(dir.path()) + " &&";
    ASSERT_EQ(
        runCommand(cd +
                   " zip -qX a.zip pkg/index.xml && zip -qX0 a.zip pkg/random.bin && python3 -c \"import "
                   "zipfile; z = zipfile.ZipFile('a.zip', 'a'); z.writestr('.QlTrash/00000001', bytes(900)); "
                   "z.writestr('extra', b'x')\""),
        0);
    kquOk("zip rm --quiet a.zip extra", cd);
    EXPECT_EQ(runPython(dir, R"(import os, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
need = sum(30 + len(i.filename) + i.compress_size + 46 + len(i.filename) for i in z.infolist()) + 22
print(' '.join(i.filename for i in z.infolist()), os.path.getsize(sys.argv[1]) - need, z.testzip())
)",
                        sq(dir.file("a.zip"))),
              "pkg/index.xml pkg/random.bin 0 None\n");
}
