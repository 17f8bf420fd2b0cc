// The kqu command line as a user meets it: help, exit statuses, "-" for the standard
// streams, destinations that are devices, FIFOs or links, the modes of what is written,
// long names, and interruption.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "tool/KQUToolTestRunner.h"

namespace kqu::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> commandNames() {
    auto overview = runTool("help");
    EXPECT_EQ(overview.status, 0);
    std::vector<std::string> names;
    std::istringstream lines(overview.output);
    std::string line;
    bool inList = false;
    while (std::getline(lines, line)) {
        if (line == "Commands:")
            inList = true;
        else if (line.empty())
            inList = false;
        else if (inList && line.rfind("  ", 0) == 0 && line[2] != ' ' && line.find("help") != 2 &&
                 line.find("--version") != 2) {
            std::string rest = line.substr(2);
            size_t gap = rest.find("  ");
            names.push_back(rest.substr(0, gap));
        }
    }
    return names;
}

TEST(KquCommandLine, EveryCommandHasCompleteHelpAndStatusesFollowOneRule) {
    auto names = commandNames();
    ASSERT_GE(names.size(), 14u);
    for (const auto& name : names) {
        auto viaHelp = runTool("help " + name);
        auto viaOption = runTool(name + " --help");
        auto viaShort = runTool(name + " -h");
        EXPECT_EQ(viaHelp.status, 0) << name;
        EXPECT_EQ(viaOption.output, viaHelp.output) << name;
        EXPECT_EQ(viaShort.output, viaHelp.output) << name;
        EXPECT_EQ(viaHelp.output.rfind("usage: kqu " + name, 0), 0u) << viaHelp.output;
        EXPECT_NE(viaHelp.output.find("\nExample:\n  kqu " + name), std::string::npos) << viaHelp.output;
        std::istringstream lines(viaHelp.output);
        for (std::string line; std::getline(lines, line);)
            EXPECT_LE(line.size(), 80u) << name << ": " << line;
        // Every option in the usage line is explained under Options.
        std::string usage = viaHelp.output.substr(0, viaHelp.output.find("\n\n"));
        for (size_t at = usage.find("[--"); at != std::string::npos; at = usage.find("[--", at + 1)) {
            std::string option = usage.substr(at + 1, usage.find_first_of(" ]", at) - at - 1);
            EXPECT_NE(viaHelp.output.find("\n  " + option), std::string::npos) << name << " " << option;
        }
    }
    // Options that were accepted but missing from the help.
    EXPECT_NE(runTool("zip rm --help").output.find("--quiet"), std::string::npos);
    EXPECT_NE(runTool("defaults read --help").output.find("--app NAME"), std::string::npos);
    TempDir dir;
    writeFile(dir.file("a"), "a");
    struct Case {
        std::string arguments;
        int status;
        std::string firstLine;
    } cases[] = {
        {"", 2, "usage: kqu COMMAND [OPTIONS] [OPERANDS]"},
        {"frobnicate", 2, "kqu: unknown command 'frobnicate'; see 'kqu help'"},
        {"zip", 2, "kqu: 'zip' needs a subcommand:"},
        {"copy " + sq(dir.file("a")), 2, "kqu: copy: expected SRC DST, got 1 operand"},
        {"copy --bogus a b", 2, "kqu: unknown option --bogus"},
        {"copy --force=yes a b", 2, "kqu: option --force takes no value"},
        {"encrypt --iterations", 2, "kqu: option --iterations needs a value"},
        {"copy " + sq(dir.file("missing")) + " " + sq(dir.file("b")), 1,
         "kqu: " + dir.file("missing") + ": no such file"},
        {"copy " + sq(dir.file("a")) + " " + sq(dir.file("a")), 1,
         "kqu: " + dir.file("a") + " exists; use --force to replace it"},
        {"--version", 0, "kqu 0.1.0"},
    };
    for (const auto& c : cases) {
        auto run = runTool(c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments << "\n" << run.output;
        EXPECT_EQ(run.output.substr(0, run.output.find('\n')), c.firstLine) << c.arguments;
    }
    // A usage error shows the usage line after the message.
    EXPECT_NE(runTool("copy --bogus a b").output.find("\nusage: kqu copy [--force] [--quiet] SRC DST\n"),
              std::string::npos);
}

TEST(KquCommandLine, DashMeansTheStandardStreams) {
    TempDir dir;
    std::string plain = patternBytes(300000, 7);
    writeFile(dir.file("plain"), plain);
    writeFile(dir.file("pass"), "stream pass\n");
    std::string pass = "--passphrase-file " + sq(dir.file("pass")) + " --iterations 10";
    std::string tool = sq(KQU_TOOL_PATH);
    // stdin to stdout and back, and the same bytes as when files are named.
    ASSERT_EQ(runCommand(fmt::format("{0} encrypt {1} - - < {2} | {0} decrypt {1} - - > {3}", tool, pass,
                                     sq(dir.file("plain")), sq(dir.file("round")))),
              0);
    EXPECT_EQ(readFile(dir.file("round")), plain);

    ASSERT_EQ(
        runCommand(fmt::format("{} copy - {} < {}", tool, sq(dir.file("copied")), sq(dir.file("plain")))), 0);
    EXPECT_EQ(readFile(dir.file("copied")), plain);
    std::string out;
    ASSERT_EQ(runCommand(fmt::format("{} copy {} -", tool, sq(dir.file("plain"))), &out), 0);
    EXPECT_EQ(out, plain);

    // A package written to stdout is an ordinary zip; one read from stdin is listed and read.
    fs::create_directories(dir.file("Doc"));
    writeFile(dir.file("Doc/index.xml"), "<doc/>");
    ASSERT_EQ(runCommand(fmt::format("cd {} && {} zip create - Doc > {}", sq(dir.path()), tool,
                                     sq(dir.file("doc.zip")))),
              0);
    ASSERT_EQ(runCommand(fmt::format("python3 -m zipfile -t {} && unzip -p {} Doc/index.xml",
                                     sq(dir.file("doc.zip")), sq(dir.file("doc.zip"))),
                         &out),
              0);
    EXPECT_EQ(out.substr(out.size() - 6), "<doc/>");
    ASSERT_EQ(runCommand(fmt::format("{} zip cat - Doc/index.xml < {}", tool, sq(dir.file("doc.zip"))), &out),
              0);
    EXPECT_EQ(out, "<doc/>");
}

TEST(KquCommandLine, DevicesFifosAndLinksAreWrittenNotReplaced) {
    TempDir dir;
    writeFile(dir.file("plain"), "the plaintext\n");
    writeFile(dir.file("pass"), "p\n");
    std::string pass = "--passphrase-file " + sq(dir.file("pass")) + " --iterations 10";
    ASSERT_EQ(
        runTool(fmt::format("encrypt --quiet {} {} {}", pass, sq(dir.file("plain")), sq(dir.file("enc"))))
            .status,
        0);

    // /dev/null stays the device, even with --force.
    auto run = runTool(fmt::format("decrypt --force {} {} /dev/null", pass, sq(dir.file("enc"))));
    EXPECT_EQ(run.status, 0) << run.output;
    struct stat status {};
    ASSERT_EQ(::stat("/dev/null", &status), 0);
    EXPECT_TRUE(S_ISCHR(status.st_mode));

    // A FIFO is written through, and is still a FIFO afterwards.
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0644), 0);
    std::string received;
    std::thread reader([&] { received = readFile(dir.file("fifo")); });
    run = runTool(fmt::format("decrypt --force {} {} {}", pass, sq(dir.file("enc")), sq(dir.file("fifo"))));
    reader.join();
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(received, "the plaintext\n");
    EXPECT_TRUE(fs::is_fifo(dir.file("fifo")));
    // A package too (through a scratch file, as the writer needs to seek).
    std::thread packageReader([&] { received = readFile(dir.file("fifo")); });
    run = runTool(fmt::format("zip create --quiet {} {}", sq(dir.file("fifo")), sq(dir.file("plain"))),
                  "timeout 20");
    packageReader.join();
    EXPECT_EQ(run.status, 0) << run.output;
    writeFile(dir.file("from-fifo.zip"), received);
    EXPECT_EQ(runCommand("unzip -p " + sq(dir.file("from-fifo.zip")) + " plain", &received), 0);
    EXPECT_EQ(received, "the plaintext\n");
    EXPECT_TRUE(fs::is_fifo(dir.file("fifo")));

    // A link to a file: the file is replaced, the link stays, and so does the file's mode.
    writeFile(dir.file("target"), "old");
    ::chmod(dir.file("target").c_str(), 0640);
    fs::create_symlink("target", dir.file("link"));
    run = runTool(fmt::format("copy --force {} {}", sq(dir.file("plain")), sq(dir.file("link"))));
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(fs::is_symlink(dir.file("link")));
    EXPECT_EQ(readFile(dir.file("target")), "the plaintext\n");
    EXPECT_EQ(fs::status(dir.file("target")).permissions(), fs::perms(0640));
    // Without --force the link's file is left alone; a link to nothing is refused.
    EXPECT_EQ(runTool(fmt::format("copy {} {}", sq(dir.file("enc")), sq(dir.file("link")))).status, 1);
    fs::create_symlink("nowhere", dir.file("dangling"));
    run = runTool(fmt::format("copy --force {} {}", sq(dir.file("plain")), sq(dir.file("dangling"))));
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(fs::exists(dir.file("nowhere")));
    // Errors name the user's path and the system's reason, not an object or a temporary.
    run = runTool(fmt::format("copy {} {}", sq(dir.file("plain")), sq(dir.file("no/such/dir/x"))));
    EXPECT_EQ(run.output, "kqu: " + dir.file("no/such/dir/x") + ": No such file or directory\n");
}

// The mode of every file that appears in dir while command runs, as a polling reader sees it.
std::string modesSeenWhile(const TempDir& dir, const std::string& command) {
    writeFile(dir.file("poll.py"), R"(import os, stat, subprocess, sys
d, cmd = sys.argv[1], sys.argv[2]
before = set(os.listdir(d))
p = subprocess.Popen(cmd, shell=True)
seen = set()
while p.poll() is None:
    for n in os.listdir(d):
        if n in before: continue
        try: seen.add(oct(stat.S_IMODE(os.lstat(os.path.join(d, n)).st_mode)))
        except FileNotFoundError: pass
for n in os.listdir(d):
    if n not in before: seen.add(oct(stat.S_IMODE(os.lstat(os.path.join(d, n)).st_mode)))
print(' '.join(sorted(seen)))
sys.exit(p.returncode)
)");
    std::string out;
    EXPECT_EQ(
        runCommand(fmt::format("python3 {} {} {}", sq(dir.file("poll.py")), sq(dir.file("out")), sq(command)),
                   &out),
        0)
        << out;
    return out;
}

TEST(KquCommandLine, OutputsGetTheirFinalModeFromTheStart) {
    TempDir dir;
    fs::create_directories(dir.file("out"));
    writeFile(dir.file("plain"), patternBytes(8 << 20, 3));
    writeFile(dir.file("pass"), "p\n");
    std::string tool = sq(KQU_TOOL_PATH);
    std::string pass = "--passphrase-file " + sq(dir.file("pass")) + " --iterations 10";
    ASSERT_EQ(
        runTool(fmt::format("encrypt --quiet {} {} {}", pass, sq(dir.file("plain")), sq(dir.file("enc"))))
            .status,
        0);
    // Decrypted data is never readable by others, even with a permissive umask.
    EXPECT_EQ(modesSeenWhile(dir, fmt::format("umask 0; {} decrypt --quiet {} {} {}", tool, pass,
                                              sq(dir.file("enc")), sq(dir.file("out/plain")))),
              "0o600\n");
    // copy keeps the source's mode; a replaced file keeps its own.
    ::chmod(dir.file("enc").c_str(), 0600);
    EXPECT_EQ(modesSeenWhile(dir, fmt::format("umask 022; {} copy --quiet {} {}", tool, sq(dir.file("enc")),
                                              sq(dir.file("out/copy")))),
              "0o600\n");
    writeFile(dir.file("open"), "x");
    ::chmod(dir.file("open").c_str(), 0644);
    ASSERT_EQ(
        runTool(fmt::format("copy --force --quiet {} {}", sq(dir.file("open")), sq(dir.file("out/copy"))))
            .status,
        0);
    EXPECT_EQ(fs::status(dir.file("out/copy")).permissions(), fs::perms(0600));
    // A rewritten package keeps its mode.
    fs::create_directories(dir.file("Doc"));
    writeFile(dir.file("Doc/a"), "a");
    writeFile(dir.file("Doc/b"), "b");
    ASSERT_EQ(
        runTool(fmt::format("zip create --quiet {} {}", sq(dir.file("p.zip")), sq(dir.file("Doc")))).status,
        0);
    ::chmod(dir.file("p.zip").c_str(), 0600);
    ASSERT_EQ(runTool(fmt::format("zip rm --quiet {} Doc/a", sq(dir.file("p.zip")))).status, 0);
    EXPECT_EQ(fs::status(dir.file("p.zip")).permissions(), fs::perms(0600));
}

TEST(KquCommandLine, NamesUpToTheSystemLimitAndInterruptionsLeaveNothingBehind) {
    TempDir dir;
    writeFile(dir.file("plain"), "x");
    for (size_t length : {242u, 255u}) {
        std::string name = dir.file(std::string(length, 'n'));
        auto run = runTool(fmt::format("copy --quiet {} {}", sq(dir.file("plain")), sq(name)));
        EXPECT_EQ(run.status, 0) << run.output;
        run = runTool(fmt::format("copy --quiet --force {} {}", sq(dir.file("plain")), sq(name)));
        EXPECT_EQ(run.status, 0) << run.output;
        EXPECT_EQ(readFile(name), "x");
        fs::remove(name);
    }

    // SIGINT, SIGTERM or SIGHUP in the middle of a long create and of a copy waiting on its
    // input: no package, no copy, no hidden file.
    writeFile(dir.file("big"), "");
    ASSERT_EQ(::truncate(dir.file("big").c_str(), 3LL << 30), 0);
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0644), 0);
    writeFile(dir.file("interrupt.py"), R"(import os, subprocess, sys, time
fifo = os.open(sys.argv[1], os.O_RDWR)  # a writer that never writes: the copy waits
p = subprocess.Popen(sys.argv[3:])
time.sleep(0.5)
p.send_signal(int(sys.argv[2]))
print(p.wait())
)");
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        for (const std::string& command :
             {fmt::format("zip create {} {}", sq(dir.file("big.zip")), sq(dir.file("big"))),
              fmt::format("copy {} {}", sq(dir.file("fifo")), sq(dir.file("copy")))}) {
            std::string out;
            runCommand(fmt::format("python3 {} {} {} {} {}", sq(dir.file("interrupt.py")),
                                   sq(dir.file("fifo")), signal, sq(KQU_TOOL_PATH), command),
                       &out);
            EXPECT_EQ(out, fmt::format("{}\n", -signal)) << command;
            std::string listing;
            runCommand("ls -A " + sq(dir.path()), &listing);
            EXPECT_EQ(listing, "big\nfifo\ninterrupt.py\nplain\n") << command;
        }
    }
}

}  // namespace
}  // namespace kqu::test
