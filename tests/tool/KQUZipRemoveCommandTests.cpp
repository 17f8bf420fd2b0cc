// kqu zip rm on a package made by Info-ZIP zip: the kept entries come out with the same
// records and stored bytes (nothing recompressed, old dates and Unix modes kept), and the
// result holds no free space, also none left by earlier saves.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <fmt/format.h>

#include <filesystem>

#include "tests/support/KQUTestSupport.h"

using namespace kqu::test;
namespace fs = std::filesystem;

namespace {

// zipinfo -v without the lines that depend on where an entry lies in the file.
std::string zipinfoRecords(const std::string& path) {
    std::string output;
    EXPECT_EQ(runCommand(fmt::format("zipinfo -v '{}' | grep -Ev 'offset of local header|There is no|bytes of "
                                     "central|central directory|zipfile|Archive:|Zip archive file|Actual end|^ *$|^ *\\([0-9A-F]+h\\) bytes$'",
                                     path),
                         &output),
              0);
    return output;
}

}  // namespace

TEST(KQUZipRemoveCommand, CopiesKeptEntriesAsStoredAndLeavesNoFreeSpace) {
    TempDir dir;
    fs::create_directories(dir.file("pkg"));
    writeFile(dir.file("pkg/index.xml"), "<index>" + std::string(3000, 'x') + "</index>");
    writeFile(dir.file("pkg/run.sh"), "#!/bin/sh\necho hi\n");
    writeFile(dir.file("pkg/random.bin"), patternBytes(70000, 3));
    writeFile(dir.file("pkg/gone.txt"), std::string(5000, 'g'));
    ::chmod(dir.file("pkg/run.sh").c_str(), 0750);
    ::chmod(dir.file("pkg/index.xml").c_str(), 0604);
    for (const char* name : {"index.xml", "run.sh", "random.bin", "gone.txt"}) {
        struct utimbuf times{1647270566, 1647270566};  // 2022-03-14
        ::utime(dir.file(std::string("pkg/") + name).c_str(), &times);
    }
    std::string archive = dir.file("a.zip"), output;
    ASSERT_EQ(runCommand(fmt::format("cd '{}' && zip -qX a.zip pkg/index.xml pkg/run.sh pkg/gone.txt && zip -qX0 "
                                     "a.zip pkg/random.bin",
                                     dir.path())),
              0);
    std::string expected = zipinfoRecords(archive);
    size_t gone = expected.find("pkg/gone.txt");
    ASSERT_NE(gone, std::string::npos);

    std::string tool = KQU_TOOL_PATH;
    ASSERT_EQ(runCommand(fmt::format("'{}' zip rm '{}' pkg/gone.txt 2>&1", tool, archive), &output), 0) << output;
    std::string after = zipinfoRecords(archive);
    EXPECT_EQ(after.find("pkg/gone.txt"), std::string::npos);
    for (const char* name : {"pkg/index.xml", "pkg/run.sh", "pkg/random.bin"}) {
        // Each kept entry's zipinfo block (from its name to the next blank-separated one) is unchanged.
        size_t a = expected.find(name), b = after.find(name);
        ASSERT_NE(a, std::string::npos);
        ASSERT_NE(b, std::string::npos);
        std::string blockBefore = expected.substr(a, expected.find("Central directory entry", a) - a);
        std::string blockAfter = after.substr(b, after.find("Central directory entry", b) - b);
        EXPECT_EQ(blockAfter, blockBefore) << name;
    }
    EXPECT_NE(after.find("2022 Mar 14"), std::string::npos) << after;
    EXPECT_NE(after.find("-rwxr-x---"), std::string::npos) << after;
    EXPECT_EQ(runCommand(fmt::format("unzip -tqq '{}'", archive)), 0);
    EXPECT_EQ(runCommand(fmt::format("python3 -m zipfile -t '{}'", archive)), 0);

    // Free space left by an earlier save (a free-space entry) is dropped as well, and the
    // package holds exactly its entries: headers, data and the directory, nothing else.
    ASSERT_EQ(runCommand(fmt::format("python3 -c \"import sys, zipfile; z = zipfile.ZipFile(sys.argv[1], 'a'); "
                                     "z.writestr('.QlTrash/00000001', bytes(900)); z.writestr('extra', b'x')\" '{}'",
                                     archive)),
              0);
    ASSERT_EQ(runCommand(fmt::format("'{}' zip rm --quiet '{}' extra 2>&1", tool, archive), &output), 0) << output;
    ASSERT_EQ(runCommand(fmt::format(R"(python3 -c "
import os, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
names = [i.filename for i in z.infolist()]
need = sum(30 + len(i.filename) + i.compress_size + 46 + len(i.filename) for i in z.infolist()) + 22
print(' '.join(names), os.path.getsize(sys.argv[1]) - need)
" '{}')",
                                     archive),
                         &output),
              0);
    EXPECT_EQ(output, "pkg/index.xml pkg/run.sh pkg/random.bin 0\n");
}
