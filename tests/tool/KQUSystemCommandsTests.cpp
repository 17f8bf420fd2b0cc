// kqu memory, kqu equation, and the progress bars of the long commands.
#include <algorithm>
#include <sstream>

#include <gtest/gtest.h>

#include "tool/KQUToolTestRunner.h"

namespace kqu::test {
namespace {

// What the process may use, as Python finds it: MemTotal, the cgroup limit (v1 memory
// controller if mounted, else v2 memory.max up the path) and RLIMIT_AS.
const char* kPythonMemory = R"(import os, resource
total = next(int(l.split()[1]) * 1024 for l in open('/proc/meminfo') if l.startswith('MemTotal:'))
mounts = [l.split() for l in open('/proc/self/mountinfo')]
def fs(m): return m[m.index('-') + 1], m[m.index('-') + 3].split(',')
v1 = [m for m in mounts if fs(m)[0] == 'cgroup' and 'memory' in fs(m)[1]]
v2 = [m for m in mounts if fs(m)[0] == 'cgroup2']
paths = dict((l.split(':')[1], l.strip().split(':', 2)[2]) for l in open('/proc/self/cgroup'))
def smallest(mount, path, name):
    rel = (path[len(mount[3]):] if mount[3] != '/' and path.startswith(mount[3]) else path).rstrip('/')
    limits = []
    while True:
        try: limits += [int(t) for t in [open(mount[4] + rel + '/' + name).read().strip()] if t != 'max']
        except OSError: pass
        if not rel: return min(limits, default=None)
        rel = rel[:rel.rfind('/')]
cg = smallest(v1[0], paths.get('memory', '/'), 'memory.limit_in_bytes') if v1 else \
     smallest(v2[0], paths.get('', '/'), 'memory.max') if v2 else None
usable, by = total, 'hardware'
if cg is not None and cg < usable: usable, by = cg, 'cgroup'
soft = resource.getrlimit(resource.RLIMIT_AS)[0]
if soft != resource.RLIM_INFINITY and soft < usable: usable, by = soft, 'address space'
print('physical: %d MB' % (usable // 2**20))
print('limited by: %s' % by)
)";

TEST(KquMemory, AgreesWithPythonAndJudgesDocuments) {
    TempDir dir;
    EXPECT_THAT(kquOk("memory"), ::testing::MatchesRegex(runPython(dir, kPythonMemory) +
                                                         "estimated: [0-9]+ MB\nuptime: [0-9]+ s\n"));
#if !defined(__SANITIZE_ADDRESS__)
    // An address-space limit of 1 GiB is what the process may use: the 1024 MB rules apply.
    const std::string head = "physical: 1024 MB\nlimited by: address space\nestimated: 512 MB\n";
    for (auto [arguments, verdict, status] :
         {std::tuple("--cells 1200000 --bytes-per-cell 1000", "open: admitted", 0),
          std::tuple("--cells 1000 --bytes-per-cell 241592 --import", "import: refused", 1)}) {
        auto run = runKqu(std::string("memory ") + arguments, "ulimit -v 1048576;");
        EXPECT_EQ(run.status, status) << arguments << run.output;
        EXPECT_TRUE(run.output.starts_with(head) && run.output.ends_with(std::string(verdict) + "\n"))
            << run.output;
    }
#endif
    EXPECT_EQ(runKqu("memory --import").status, 2);
}

TEST(KquEquation, NamesCreatorAndDescent) {
    TempDir dir;
    runPython(dir, R"(import struct, sys
sig = bytes([0x00, 0x98, 0x0A, 0x00, 0xF0, 0x68, 0x08, 0x00])
for name, creator, descent in [('a', b'MTHU', 12), ('c', b'XXXX', 3)]:
    picture = creator + struct.pack('>H', descent) + b'\1' * 8 + sig + b'\2' * 40
    open(sys.argv[1] + '/' + name + '.pict', 'wb').write(picture)
)",
              sq(dir.path()));
    expectRuns("equation",
               {{"c.pict a.pict", "c.pict: not an equation picture\na.pict: MTHU descent 12\n", 1}},
               Compare::Whole, "cd " + sq(dir.path()) + " &&");
}

// Runs kqu with stderr on a pseudo-terminal; prints stdout, a separator, then stderr.
const char* kPtyRunner = R"(import os, subprocess, sys
master, slave = os.openpty()
p = subprocess.Popen(sys.argv[1:], stdout=subprocess.PIPE, stderr=slave)
os.close(slave)
err = b''
while True:
    try: chunk = os.read(master, 65536)
    except OSError: break
    if not chunk: break
    err += chunk
sys.stdout.write(p.communicate()[0].decode() + '---\n' + err.decode().replace('\x1b', 'ESC'))
sys.exit(p.returncode)
)";

TEST(KquProgressBars, DrawnOnATerminalOnlyAndErasedAtTheEnd) {
    TempDir dir;
    writeFiles(dir,
               {{"src/a", patternBytes(3 << 20, 1)}, {"src/b", patternBytes(1 << 20, 2)}, {"src/empty", ""}});
    writeFile(dir.file("pty.py"), kPtyRunner);
    const std::string cd = "cd " + sq(dir.path()) + " &&",
                      onTerminal = cd + " python3 pty.py " + sq(KQU_TOOL_PATH) + " ";
    std::string output;
    EXPECT_EQ(runCommand(onTerminal + "zip create out.zip src", &output), 0) << output;
    const std::string head = "created out.zip with 4 entries\n---\n";  // standard output, then the terminal's
    ASSERT_THAT(output, StartsWith(head));
    std::string bars = output.substr(head.size());
    // Every drawing starts by erasing the line; the last erases the bar.
    std::vector<int> percentages;
    std::istringstream drawings(bars);
    for (std::string drawing; std::getline(drawings, drawing, '\r');) {
        if (drawing.size() <= 5) continue;  // before the first erase, or an erase alone
        EXPECT_THAT(drawing, StartsWith("ESC[K"));
        for (const char* part : {"% ", " of 4.0 MiB  ", "/s  ETA "}) EXPECT_THAT(drawing, HasSubstr(part));
        percentages.push_back(std::stoi(drawing.substr(5)));
    }
    ASSERT_FALSE(percentages.empty()) << bars;
    EXPECT_EQ(percentages.back(), 100) << bars;
    EXPECT_TRUE(std::is_sorted(percentages.begin(), percentages.end())) << bars;
    EXPECT_THAT(bars, EndsWith("\rESC[K"));
    EXPECT_EQ(runCommand("unzip -tqq " + dir.file("out.zip")), 0);

    // --quiet, or stderr to a file: no bar at all.
    runCommand(onTerminal + "zip test --quiet out.zip", &output);
    EXPECT_EQ(output, "No errors detected in out.zip (4 entries).\n---\n");
    kquOk("zip extract out.zip x 2>err", cd);
    EXPECT_EQ(readFile(dir.file("err")), "");
    // With the performance log on, the phases are summed up at the end.
    auto logged = runKqu("zip test out.zip", cd + " KQU_DEFAULT_PerformanceLogEnabled=YES").output;
    EXPECT_THAT(logged, HasSubstr("KQUPerformanceLog: Total time spent in zip test: "));
}

}  // namespace
}  // namespace kqu::test
