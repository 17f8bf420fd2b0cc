// kqu encrypt / decrypt against the openssl command line and Python's hashlib: the file
// is IV + AES-128-CBC(initial block + data) under PBKDF2-HMAC-SHA1(passphrase,
// "dezUdodo", count, 16), readable and writable by other programs given key and IV.
#include <gtest/gtest.h>

#include "tests/support/KQUCryptoTestSupport.h"
#include "tool/KQUToolTestRunner.h"

namespace kqu::test {
namespace {

class CryptoTool : public ::testing::Test {
protected:
    void SetUp() override { writeFile(dir.file("pass"), "open sesame\n"); }
    TempDir dir;
    const std::string cd = "cd " + sq(dir.path()) + " &&";
};

TEST_F(CryptoTool, EncryptedFilesOpenWithOpensslAndTheDerivedKey) {
    const std::string pythonKey = runPython(
        dir,
        "import hashlib\nprint(hashlib.pbkdf2_hmac('sha1', b'open sesame', b'dezUdodo', 4000, 16).hex())");
    // Both ways through openssl; sizes around the block and a long one.
    for (size_t n : {0, 17, 100000}) {
        std::string plain = patternBytes(n, static_cast<uint32_t>(n + 5)), decoded, initial, body;
        writeFile(dir.file("plain"), plain);
        auto r = runKqu("encrypt --quiet --show-key --force --passphrase-file pass plain enc", cd);
        ASSERT_EQ(r.status, 0) << r.output;
        // "key=<32 hex>\niv=<32 hex>\n", as --show-key prints it (the IV compared with the file below).
        ASSERT_EQ(r.output.substr(0, 37), "key=" + pythonKey);
        const std::string key = pythonKey.substr(0, 32), iv = r.output.substr(40, 32);
        EXPECT_EQ(r.output.substr(37), "iv=" + iv + "\n");
        std::string encoded = readFile(dir.file("enc"));
        ASSERT_EQ(encoded.size(), n + 48 - n % 16);
        EXPECT_EQ(toHex(encoded.substr(0, 16)), iv);
        writeFile(dir.file("body"), encoded.substr(16));
        const std::string openssl = cd + " openssl enc -aes-128-cbc -K " + key + " -iv " + iv;
        ASSERT_EQ(runCommand(openssl + " -d -in body", &decoded), 0);
        EXPECT_TRUE(decoded.size() == n + 16 && decoded.substr(16) == plain) << n;

        runCommand("openssl rand 16", &initial);
        writeFile(dir.file("in"), initial + plain);
        ASSERT_EQ(runCommand(openssl + " -in in", &body), 0);
        writeFile(dir.file("enc"), encoded.substr(0, 16) + body);  // the IV shown above
        expectRuns("decrypt --force",
                   {{"enc out", fmt::format("decrypted {} bytes from enc to out\n", n), 0}}, Compare::Whole,
                   cd + " KQU_PASSPHRASE='open sesame'");
        EXPECT_TRUE(readFile(dir.file("out")) == plain) << n;
    }
}

TEST_F(CryptoTool, WrongPassphraseOrDamageLeavesNoOutput) {
    writeFile(dir.file("plain"), patternBytes(5000));
    kquOk("encrypt --quiet --passphrase-file pass plain enc", cd);
    std::string before, after;
    runCommand("ls -A " + dir.path(), &before);
    expectRuns(
        "decrypt",
        {{"enc out",
          "kqu: enc: cannot decrypt: KQUCryptor failed. Decryption failed: the last block's padding is "
          "invalid (wrong key or damaged data)\n",
          1}},
        Compare::Whole, cd + " KQU_PASSPHRASE='open sesamE'");
    runCommand("ls -A " + dir.path(), &after);
    EXPECT_EQ(after, before);  // no OUT, no temporary
    // An existing OUT stays as it was after a failure, even with --force.
    writeFile(dir.file("out"), "keep me");
    EXPECT_EQ(runKqu("decrypt --force enc out", cd + " KQU_PASSPHRASE=nope").status, 1);
    EXPECT_EQ(readFile(dir.file("out")), "keep me");
}

TEST_F(CryptoTool, PromptsOnTheTerminalWithoutEcho) {
    writeFile(dir.file("plain"), "typed");
    // Python's pty module plays the user at a terminal: it types each answer once the
    // output holds one more prompt (or the tool has ended), marking the place with "|".
    writeFile(dir.file("play_terminal.py"), R"(import os, pty, select, signal, sys
pid, fd = pty.fork()
if pid == 0: os.execv(sys.argv[1], sys.argv[1:])
signal.signal(signal.SIGALRM, lambda *a: os.kill(pid, signal.SIGKILL))
signal.alarm(20)
out = b''
def more():  # False once the tool's side is closed
    global out
    try: data = os.read(fd, 1000)
    except OSError: return False
    out += data
    return bool(data)
for i, answer in enumerate(sys.stdin.read().split(',')):
    while out.count(b': ') < i + 1:
        if select.select([fd], [], [], 0.1)[0] and not more(): break
    out += b'|'
    os.write(fd, answer.encode() + b'\n')
while more(): pass
_, status = os.waitpid(pid, 0)
sys.stdout.write(out.decode().replace('\r', ''))
sys.exit(os.waitstatus_to_exitcode(status))
)");
    // The typed answers go to the player, which runs the tool on a terminal.
    std::string py = " | env -u KQU_PASSPHRASE python3 play_terminal.py";
    auto r = runKqu("encrypt plain enc", cd + " echo -n 'typed secret,typed secret'" + py);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_THAT(r.output, Not(HasSubstr("typed secret")));  // not echoed
    EXPECT_THAT(r.output, ::testing::ContainsRegex("Passphrase: \\|.*Passphrase again: \\|"));
    r = runKqu("decrypt --quiet enc out", cd + " KQU_PASSPHRASE='typed secret'");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(readFile(dir.file("out")), "typed");
    r = runKqu("encrypt plain e2", cd + " echo -n 'one,two'" + py);
    EXPECT_NE(r.status, 0);
    EXPECT_THAT(r.output, HasSubstr("kqu: the passphrases do not match"));
}

}  // namespace
}  // namespace kqu::test
