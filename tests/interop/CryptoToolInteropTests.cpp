// kqu encrypt / decrypt against the openssl command line and Python's hashlib: the file
// is IV + AES-128-CBC(initial block + data) under PBKDF2-HMAC-SHA1(passphrase,
// "dezUdodo", count, 16), readable and writable by other programs given key and IV.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>

#include "crypto/KQUCryptoTestSupport.h"
#include "support/KQUTestSupport.h"

namespace kqu::test {
namespace {

struct Result {
    int status;
    std::string output;
};

Result run(const std::string& command) {
    Result r;
    r.status = runCommand(command + " 2>&1", &r.output);
    return r;
}

std::string kqu() {
    return std::string(KQU_TOOL_PATH);
}

std::string quote(const std::string& s) {
    return "'" + s + "'";
}

// Python starts slowly here, so each key is derived once.
std::string pythonKey(const std::string& passphrase, int count) {
    static std::map<std::pair<std::string, int>, std::string> known;
    auto& key = known[{passphrase, count}];
    if (!key.empty()) return key;
    std::string out;
    runCommand(
        "python3 -c \"import hashlib,sys; print(hashlib.pbkdf2_hmac('sha1', sys.argv[1].encode(), "
        "b'dezUdodo', " +
            std::to_string(count) + ", 16).hex())\" " + quote(passphrase),
        &out);
    key = out.substr(0, 32);
    return key;
}

// "key=<32 hex>\niv=<32 hex>\n", as --show-key prints it.
bool parseShownKey(const std::string& output, std::string* key, std::string* iv) {
    auto isHex = [](std::string_view s) {
        return s.size() == 32 && s.find_first_not_of("0123456789abcdef") == std::string_view::npos;
    };
    if (output.size() != 73 || output.compare(0, 4, "key=") != 0 || output.compare(36, 4, "\niv=") != 0 ||
        output.back() != '\n')
        return false;
    *key = output.substr(4, 32);
    *iv = output.substr(40, 32);
    return isHex(*key) && isHex(*iv);
}

std::string listing(const TempDir& dir) {
    std::string out;
    runCommand("ls -A " + dir.path(), &out);
    return out;
}

class CryptoTool : public ::testing::Test {
protected:
    void SetUp() override {
        if (runCommand("command -v openssl >/dev/null && command -v python3 >/dev/null") != 0)
            GTEST_SKIP() << "openssl or python3 missing";
        writeFile(dir.file("pass"), "open sesame\n");
    }
    std::string passFile() { return " --passphrase-file " + dir.file("pass") + " "; }
    TempDir dir;
};

TEST_F(CryptoTool, EncryptedFilesOpenWithOpensslAndTheDerivedKey) {
    for (size_t n : {0, 1, 15, 16, 17, 100000}) {
        std::string plain = patternBytes(n, static_cast<uint32_t>(n + 5));
        writeFile(dir.file("plain"), plain);
        auto r = run(kqu() + " encrypt --quiet --show-key --force" + passFile() + dir.file("plain") + " " +
                     dir.file("enc"));
        ASSERT_EQ(r.status, 0) << r.output;
        std::string key, iv;
        ASSERT_TRUE(parseShownKey(r.output, &key, &iv)) << r.output;
        EXPECT_EQ(key, pythonKey("open sesame", 4000));
        std::string encoded = readFile(dir.file("enc"));
        ASSERT_EQ(encoded.size(), n + 48 - n % 16);
        EXPECT_EQ(toHex(encoded.substr(0, 16)), iv);
        writeFile(dir.file("body"), encoded.substr(16));
        std::string decoded;
        ASSERT_EQ(
            runCommand("openssl enc -d -aes-128-cbc -K " + key + " -iv " + iv + " -in " + dir.file("body"),
                       &decoded),
            0);
        ASSERT_EQ(decoded.size(), n + 16);
        EXPECT_TRUE(decoded.substr(16) == plain) << n;
    }
}

TEST_F(CryptoTool, DecryptsWhatOpensslWrites) {
    for (size_t n : {0, 15, 16, 33, 70000}) {
        std::string plain = patternBytes(n, static_cast<uint32_t>(n + 9));
        std::string iv, initial;
        runCommand("openssl rand 16", &iv);
        runCommand("openssl rand 16", &initial);
        ASSERT_EQ(iv.size(), 16u);
        writeFile(dir.file("in"), initial + plain);
        std::string body;
        ASSERT_EQ(runCommand("openssl enc -aes-128-cbc -K " + pythonKey("open sesame", 4000) + " -iv " +
                                 toHex(iv) + " -in " + dir.file("in"),
                             &body),
                  0);
        writeFile(dir.file("enc"), iv + body);
        auto r = run("KQU_PASSPHRASE='open sesame' " + kqu() + " decrypt --force " + dir.file("enc") + " " +
                     dir.file("out"));
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(r.output, "decrypted " + std::to_string(n) + " bytes from " + dir.file("enc") + " to " +
                                dir.file("out") + "\n");
        EXPECT_TRUE(readFile(dir.file("out")) == plain) << n;
        struct stat st;
        ASSERT_EQ(::stat(dir.file("out").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
}

TEST_F(CryptoTool, IterationCountIsAnOptionOfBoth) {
    writeFile(dir.file("plain"), "counted");
    auto r = run(kqu() + " encrypt --quiet --show-key --iterations 1000" + passFile() + dir.file("plain") +
                 " " + dir.file("enc"));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("key=" + pythonKey("open sesame", 1000)), std::string::npos);
    r = run(kqu() + " decrypt" + passFile() + dir.file("enc") + " " + dir.file("out"));
    EXPECT_EQ(r.status, 1);
    r = run(kqu() + " decrypt --quiet --iterations=1000" + passFile() + dir.file("enc") + " " +
            dir.file("out"));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(readFile(dir.file("out")), "counted");
    for (const char* bad : {"0", "-3", "x", "2147483648", "12abc"}) {
        r = run(kqu() + " encrypt --force --iterations " + bad + passFile() + dir.file("plain") + " " +
                dir.file("e2"));
        EXPECT_EQ(r.status, 2) << bad;  // a usage error: the message, then the usage
        EXPECT_EQ(r.output.rfind("kqu: --iterations needs a whole number from 1 to 2147483647", 0), 0u) << r.output;
    }
}

TEST_F(CryptoTool, WrongPassphraseOrDamageLeavesNoOutput) {
    std::string plain = patternBytes(5000);
    writeFile(dir.file("plain"), plain);
    ASSERT_EQ(run(kqu() + " encrypt --quiet" + passFile() + dir.file("plain") + " " + dir.file("enc")).status,
              0);
    std::string encoded = readFile(dir.file("enc"));
    writeFile(dir.file("cut"), encoded.substr(0, encoded.size() - 1));
    writeFile(dir.file("short"), encoded.substr(0, 10));
    std::string flipped = encoded;
    flipped.back() = static_cast<char>(flipped.back() ^ 1);
    writeFile(dir.file("flipped"), flipped);
    std::string before = listing(dir);

    auto r =
        run("KQU_PASSPHRASE='open sesamE' " + kqu() + " decrypt " + dir.file("enc") + " " + dir.file("out"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output,
              "kqu: " + dir.file("enc") +
                  ": cannot decrypt: KQUCryptor failed. Decryption failed: the last block's padding is "
                  "invalid (wrong key or damaged data)\n");
    for (const char* damaged : {"cut", "short", "flipped"}) {
        r = run(kqu() + " decrypt" + passFile() + dir.file(damaged) + " " + dir.file("out"));
        EXPECT_EQ(r.status, 1) << damaged;
        EXPECT_EQ(r.output.rfind("kqu: " + dir.file(damaged) + ": cannot decrypt: ", 0), 0u) << r.output;
        EXPECT_EQ(r.output.find('\n'), r.output.size() - 1) << r.output;
    }
    EXPECT_EQ(listing(dir), before);  // no OUT, no temporary

    // An existing OUT stays as it was after a failure, even with --force.
    writeFile(dir.file("out"), "keep me");
    r = run("KQU_PASSPHRASE=nope " + kqu() + " decrypt --force " + dir.file("enc") + " " + dir.file("out"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(readFile(dir.file("out")), "keep me");
}

TEST_F(CryptoTool, PassphraseSources) {
    writeFile(dir.file("plain"), "sources");
    // The file's first line only, without "\r\n".
    writeFile(dir.file("crlf"), "open sesame\r\nsecond line\n");
    ASSERT_EQ(run(kqu() + " encrypt --quiet --passphrase-file " + dir.file("crlf") + " " + dir.file("plain") +
                  " " + dir.file("enc"))
                  .status,
              0);
    writeFile(dir.file("noeol"), "open sesame");
    auto r = run(kqu() + " decrypt --quiet --passphrase-file=" + dir.file("noeol") + " " + dir.file("enc") +
                 " " + dir.file("out"));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(readFile(dir.file("out")), "sources");
    // The file wins over the environment.
    r = run("KQU_PASSPHRASE=wrong " + kqu() + " decrypt --quiet --force" + passFile() + dir.file("enc") +
            " " + dir.file("out"));
    EXPECT_EQ(r.status, 0) << r.output;
    // Never a plain argument.
    r = run(kqu() + " decrypt --passphrase 'open sesame' " + dir.file("enc") + " " + dir.file("o2"));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.output.substr(0, r.output.find('\n') + 1), "kqu: unknown option --passphrase\n");
    // Nothing to ask: no file, no variable, no terminal.
    r = run("env -u KQU_PASSPHRASE setsid " + kqu() + " decrypt " + dir.file("enc") + " " + dir.file("o2") +
            " </dev/null");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output,
              "kqu: a passphrase is needed: use --passphrase-file FILE, set KQU_PASSPHRASE, or run on a "
              "terminal\n");
    r = run(kqu() + " decrypt --passphrase-file " + dir.file("missing") + " " + dir.file("enc") + " " +
            dir.file("o2"));
    EXPECT_EQ(r.output, "kqu: " + dir.file("missing") + ": cannot read the passphrase file\n");
    // New data never gets an empty passphrase.
    writeFile(dir.file("empty"), "\n");
    r = run(kqu() + " encrypt --passphrase-file " + dir.file("empty") + " " + dir.file("plain") + " " +
            dir.file("e2"));
    EXPECT_EQ(r.output, "kqu: the passphrase is empty\n");
    EXPECT_FALSE(::access(dir.file("e2").c_str(), F_OK) == 0);
}

TEST_F(CryptoTool, PromptsOnTheTerminalWithoutEcho) {
    writeFile(dir.file("plain"), "typed");
    // Python's pty module plays the user at a terminal.
    writeFile(dir.file("play_terminal.py"), R"(import os, pty, select, signal, sys, time
pid, fd = pty.fork()
if pid == 0:
    os.execv(sys.argv[1], sys.argv[1:])
signal.signal(signal.SIGALRM, lambda *a: os.kill(pid, signal.SIGKILL))
signal.alarm(20)
out = b''
def drain(count):
    # Reads until the output holds count prompts (or the child ends).
    global out
    while out.count(b': ') < count:
        if select.select([fd], [], [], 0.1)[0]:
            try:
                data = os.read(fd, 1000)
            except OSError:
                return
            if not data:
                return
            out += data
for i, answer in enumerate(sys.stdin.read().split(',')):
    drain(i + 1)
    out += b'|'
    os.write(fd, answer.encode() + b'\n')
while True:
    try:
        data = os.read(fd, 1000)
    except OSError:
        break
    if not data:
        break
    out += data
_, status = os.waitpid(pid, 0)
sys.stdout.write(out.decode().replace('\r', ''))
sys.exit(os.waitstatus_to_exitcode(status))
)");

    std::string py = "env -u KQU_PASSPHRASE python3 " + dir.file("play_terminal.py") + " " + kqu();
    auto r = run("echo -n 'typed secret,typed secret' | " + py + " encrypt " + dir.file("plain") + " " +
                 dir.file("enc"));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output.find("typed secret"), std::string::npos) << r.output;  // not echoed
    EXPECT_NE(r.output.find("Passphrase: |"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Passphrase again: |"), std::string::npos) << r.output;
    r = run("KQU_PASSPHRASE='typed secret' " + kqu() + " decrypt --quiet " + dir.file("enc") + " " +
            dir.file("out"));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(readFile(dir.file("out")), "typed");
    r = run("echo -n 'one,two' | " + py + " encrypt " + dir.file("plain") + " " + dir.file("e2"));
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find("kqu: the passphrases do not match"), std::string::npos) << r.output;
}

}  // namespace
}  // namespace kqu::test
