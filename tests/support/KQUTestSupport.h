// Helpers shared by the test suites: a scratch directory per test, a log sink that
// records messages, and file helpers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "kqutility/foundation/KQUData.h"
#include "kqutility/foundation/KQUException.h"

namespace kqu::test {

// A fresh directory removed with everything in it when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return mPath; }
    std::string file(const std::string& name) const { return mPath + "/" + name; }

private:
    std::string mPath;
};

// Records every log message while alive, instead of writing to stderr.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    const std::vector<std::string>& messages() const { return mMessages; }
    bool contains(const std::string& fragment) const;

private:
    std::vector<std::string> mMessages;
};

// Sets a user default for the life of the object (and forgets the cached log level).
class ScopedDefault {
public:
    ScopedDefault(const std::string& key, const std::string& value);
    ~ScopedDefault();

private:
    std::string mKey;
};

// The assertion handler continues (instead of throwing) while alive: for the tests of
// what code does after a failed check.
class ContinueAfterAssertions {
public:
    ContinueAfterAssertions();
    ~ContinueAfterAssertions();
};

void writeFile(const std::string& path, const std::string& contents);
std::string readFile(const std::string& path);
// Bytes from lower- or upper-case hex text (two digits a byte); throws on odd length.
KQUData fromHex(std::string_view hex);
// Lower-case hex of any byte container (std::string, KQUData, std::span, ...).
std::string toHex(const uint8_t* bytes, size_t length);
inline std::string toHex(std::string_view bytes) {
    return toHex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}
template <typename Bytes>
requires requires(const Bytes& b) {
    b.data();
    b.size();
}
std::string toHex(const Bytes& bytes) {
    return toHex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}
// Deterministic pseudo-random bytes.
std::string patternBytes(size_t size, uint32_t seed = 1);
// text in single quotes for the shell (a quote inside is closed, escaped and reopened).
inline std::string shellQuoted(std::string_view text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}
// Runs a shell command, returning its exit status and filling *output with stdout.
int runCommand(const std::string& command, std::string* output = nullptr);

// Runs the kqu tool with shell-quoted arguments, which may redirect its standard output
// (">/dev/null"); prefix goes before the tool (variables, "setsid"). The output holds what
// it wrote to standard output and standard error.
struct KquRun {
    int status;
    std::string output;
};
KquRun runKqu(std::string_view arguments, std::string_view prefix = {});

}  // namespace kqu::test

// Expects statement to throw KQUException with the given name (and reason, if not empty).
#define EXPECT_KQU_THROW(statement, expectedName, expectedReason)        \
    do {                                                                 \
        try {                                                            \
            statement;                                                   \
            ADD_FAILURE() << "expected KQUException " << (expectedName); \
        } catch (const ::kqu::KQUException& e) {                         \
            EXPECT_EQ(e.name(), std::string(expectedName));              \
            if (std::string(expectedReason).size()) {                    \
                EXPECT_EQ(e.reason(), std::string(expectedReason));      \
            }                                                            \
        }                                                                \
    } while (0)
#define EXPECT_ASSERTION_FAILURE(statement) EXPECT_KQU_THROW(statement, "AssertionFailure", "")
