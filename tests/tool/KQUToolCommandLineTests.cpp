// The kqu command line as a user meets it: help, exit statuses, "-" for the standard
// streams, destinations that are devices, FIFOs or links, the modes of what is written,
// long names, and interruption.
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "tool/KQUToolTestRunner.h"

namespace kqu::test {
namespace {

namespace fs = std::filesystem;

TEST(KquCommandLine, EveryCommandHasCompleteHelpAndStatusesFollowOneRule) {
    // The command names listed under "Commands:" by kqu help (help and --version left out).
    const std::string overview = kquOk("help");
    std::vector<std::string> names;
    std::istringstream commands(overview.substr(overview.find("\nCommands:\n") + 11));
    for (std::string line; std::getline(commands, line) && !line.empty();)
        if (line.starts_with("  ") && line[2] != ' ' && !line.starts_with("  help") &&
            !line.starts_with("  --version"))
            names.push_back(line.substr(2, line.find("  ", 2) - 2));
    ASSERT_GE(names.size(), 14u);
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        auto help = runKqu("help " + name);
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(runKqu(name + " --help").output, help.output);
        EXPECT_EQ(runKqu(name + " -h").output, help.output);
        EXPECT_THAT(help.output, StartsWith("usage: kqu " + name));
        EXPECT_THAT(help.output, HasSubstr("\nExample:\n  kqu " + name));
        std::istringstream lines(help.output);
        for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
        // Every option in the usage line is explained under Options.
        std::string usage = help.output.substr(0, help.output.find("\n\n"));
        for (size_t at = usage.find("[--"); at != std::string::npos; at = usage.find("[--", at + 1)) {
            std::string option = usage.substr(at + 1, usage.find_first_of(" ]", at) - at - 1);
            EXPECT_THAT(help.output, HasSubstr("\n  " + option)) << option;
        }
    }
    // Options that were accepted but missing from the help.
    EXPECT_THAT(runKqu("zip rm --help").output, HasSubstr("--quiet"));
    EXPECT_THAT(runKqu("defaults read --help").output, HasSubstr("--app NAME"));
    TempDir dir;
    writeFile(dir.file("a"), "a");
    expectRuns("",
               {{"", "usage: kqu COMMAND [OPTIONS] [OPERANDS]", 2},
                {"frobnicate", "kqu: unknown command 'frobnicate'; see 'kqu help'", 2},
                {"zip", "kqu: 'zip' needs a subcommand:", 2},
                {"copy a", "kqu: copy: expected SRC DST, got 1 operand", 2},
                {"copy --bogus a b", "kqu: unknown option --bogus", 2},
                {"copy --force=yes a b", "kqu: option --force takes no value", 2},
                {"encrypt --iterations", "kqu: option --iterations needs a value", 2},
                {"copy missing b", "kqu: missing: no such file", 1},
                {"copy a a", "kqu: a exists; use --force to replace it", 1},
                {"--version", "kqu 0.1.0", 0}},
               Compare::FirstLine, "cd " + sq(dir.path()) + " &&");
}

TEST(KquCommandLine, DashMeansTheStandardStreams) {
    TempDir dir;
    std::string plain = patternBytes(300000, 7), out;
    writeFiles(dir, {{"plain", plain}, {"pass", "stream pass\n"}, {"Doc/index.xml", "<doc/>"}});
    const std::string pass = "--passphrase-file pass --iterations 10", tool = sq(KQU_TOOL_PATH);
    auto shell = [&, cd = "cd " + sq(dir.path()) + " && "](const std::string& command) {
        EXPECT_EQ(runCommand(cd + fmt::format(fmt::runtime(command), tool, pass), &out), 0) << command;
        return out;
    };
    // stdin to stdout and back, and the same bytes as when files are named.
    shell("{0} encrypt {1} - - < plain | {0} decrypt {1} - - > round");
    EXPECT_EQ(readFile(dir.file("round")), plain);
    shell("{0} copy - copied < plain");
    EXPECT_EQ(readFile(dir.file("copied")), plain);
    EXPECT_EQ(shell("{0} copy plain -"), plain);
    // A package written to stdout is an ordinary zip; one read from stdin is listed and read.
    shell("{0} zip create - Doc > doc.zip");
    EXPECT_TRUE(shell("python3 -m zipfile -t doc.zip && unzip -p doc.zip Doc/index.xml").ends_with("<doc/>"));
    EXPECT_EQ(shell("{0} zip cat - Doc/index.xml < doc.zip"), "<doc/>");
}

// Writes dir/plain and its encryption dir/enc; the options that decrypt it.
std::string encryptedPlain(const TempDir& dir, const std::string& plain) {
    writeFiles(dir, {{"plain", plain}, {"pass", "p\n"}});
    std::string pass = "--passphrase-file " + sq(dir.file("pass")) + " --iterations 10";
    kquOk("encrypt --quiet " + pass + " plain enc", "cd " + sq(dir.path()) + " &&");
    return pass;
}

TEST(KquCommandLine, DevicesFifosAndLinksAreWrittenNotReplaced) {
    TempDir dir;
    const std::string pass = encryptedPlain(dir, "the plaintext\n"), cd = "cd " + sq(dir.path()) + " &&";
    // /dev/null stays the device, even with --force.
    kquOk("decrypt --force " + pass + " enc /dev/null", cd);
    EXPECT_TRUE(fs::is_character_file("/dev/null"));

    // A FIFO is written through, and is still a FIFO afterwards; a package too (through a
    // scratch file, as the writer needs to seek).
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0644), 0);
    for (const std::string& command :
         {"decrypt --force " + pass + " enc fifo", std::string("zip create --quiet fifo plain")}) {
        std::string received;
        std::thread reader([&] { received = readFile(dir.file("fifo")); });
        auto run = runKqu(command, cd + " timeout 20");
        reader.join();
        EXPECT_EQ(run.status, 0) << run.output;
        if (command.starts_with("zip")) {
            writeFile(dir.file("from-fifo.zip"), received);
            EXPECT_EQ(runCommand(cd + " unzip -p from-fifo.zip plain", &received), 0);
        }
        EXPECT_EQ(received, "the plaintext\n");
        EXPECT_TRUE(fs::is_fifo(dir.file("fifo")));
    }

    // A link to a file: the file is replaced, the link stays, and so does the file's mode.
    writeFile(dir.file("target"), "old");
    kquOk("copy --force plain link", cd + " chmod 640 target && ln -s target link &&");
    EXPECT_TRUE(fs::is_symlink(dir.file("link")));
    EXPECT_EQ(readFile(dir.file("target")), "the plaintext\n");
    EXPECT_EQ(fs::status(dir.file("target")).permissions(), fs::perms(0640));
    // Without --force the link's file is left alone; a link to nothing is refused.
    EXPECT_EQ(runKqu("copy enc link", cd).status, 1);
    EXPECT_EQ(runKqu("copy --force plain dangling", cd + " ln -s nowhere dangling &&").status, 1);
    EXPECT_FALSE(fs::exists(dir.file("nowhere")));
    // Errors name the user's path and the system's reason, not an object or a temporary.
    EXPECT_EQ(runKqu("copy plain no/such/dir/x", cd).output,
              "kqu: no/such/dir/x: No such file or directory\n");
}

// The mode of every file that appears in dir/out while command runs, as a polling reader sees it.
std::string modesSeenWhile(const TempDir& dir, const std::string& command) {
    writeFile(dir.file("poll.py"), R"(import os, stat, subprocess, sys
d, cmd = sys.argv[1], sys.argv[2]
before = set(os.listdir(d))
p = subprocess.Popen(cmd, shell=True)
seen = set()
def look():
    for n in set(os.listdir(d)) - before:
        try: seen.add(oct(stat.S_IMODE(os.lstat(os.path.join(d, n)).st_mode)))
        except FileNotFoundError: pass
while p.poll() is None: look()
look()
print(' '.join(sorted(seen)))
sys.exit(p.returncode)
)");
    std::string out;
    EXPECT_EQ(runCommand("cd " + sq(dir.path()) + " && python3 poll.py out " + sq(command), &out), 0) << out;
    return out;
}

TEST(KquCommandLine, OutputsGetTheirFinalModeFromTheStart) {
    TempDir dir;
    const std::string pass = encryptedPlain(dir, patternBytes(8 << 20, 3)), tool = sq(KQU_TOOL_PATH),
                      cd = "cd " + sq(dir.path()) + " && ";
    writeFiles(dir, {{"out/", ""}, {"open", "x"}, {"Doc/a", "a"}, {"Doc/b", "b"}});
    // Decrypted data is never readable by others, even with a permissive umask.
    EXPECT_EQ(modesSeenWhile(dir, cd + "umask 0; " + tool + " decrypt --quiet " + pass + " enc out/plain"),
              "0o600\n");
    // copy keeps the source's mode; a replaced file keeps its own.
    EXPECT_EQ(modesSeenWhile(dir, cd + "chmod 600 enc; umask 022; " + tool + " copy --quiet enc out/copy"),
              "0o600\n");
    kquOk("copy --force --quiet open out/copy", cd + "chmod 644 open &&");
    EXPECT_EQ(fs::status(dir.file("out/copy")).permissions(), fs::perms(0600));
    // A rewritten package keeps its mode.
    kquOk("zip rm --quiet p.zip Doc/a", cd + tool + " zip create --quiet p.zip Doc && chmod 600 p.zip &&");
    EXPECT_EQ(fs::status(dir.file("p.zip")).permissions(), fs::perms(0600));
}

TEST(KquCommandLine, NamesUpToTheSystemLimitAndInterruptionsLeaveNothingBehind) {
    TempDir dir;
    const std::string cd = "cd " + sq(dir.path()) + " && ";
    writeFile(dir.file("plain"), "x");
    for (size_t length : {242u, 255u}) {
        const std::string name(length, 'n');
        for (const char* force : {"", "--force"})
            kquOk(fmt::format("copy --quiet {} plain {}", force, name), cd);
        EXPECT_EQ(readFile(dir.file(name)), "x");
        fs::remove(dir.file(name));
    }

    // SIGINT, SIGTERM or SIGHUP in the middle of a long create and of a copy waiting on its
    // input: no package, no copy, no hidden file.
    writeFile(dir.file("big"), "");
    ASSERT_EQ(::truncate(dir.file("big").c_str(), 3LL << 30), 0);
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0644), 0);
    writeFile(dir.file("interrupt.py"), R"(import os, signal, subprocess, sys, time
for s in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):  # not ignored, even when started in the background
    signal.signal(s, signal.SIG_DFL)
fifo = os.open(sys.argv[1], os.O_RDWR)  # a writer that never writes: the copy waits
p = subprocess.Popen(sys.argv[3:])
time.sleep(0.5)
p.send_signal(int(sys.argv[2]))
print(p.wait())
)");
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        for (const char* command : {"zip create big.zip big", "copy fifo copy"}) {
            std::string out;
            runCommand(
                fmt::format("{}python3 interrupt.py fifo {} {} {}", cd, signal, sq(KQU_TOOL_PATH), command),
                &out);
            EXPECT_EQ(out, fmt::format("{}\n", -signal)) << command;
            runCommand("ls -A " + sq(dir.path()), &out);
            EXPECT_EQ(out, "big\nfifo\ninterrupt.py\nplain\n") << command;
        }
}

}  // namespace
}  // namespace kqu::test
