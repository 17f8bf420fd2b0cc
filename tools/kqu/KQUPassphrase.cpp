#include "tools/kqu/KQUPassphrase.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>

#include <fmt/format.h>

#include "kqutility/foundation/KQUScopeExit.h"

namespace kqu::tool {
namespace {

constexpr size_t kMaxPassphraseLength = 65536;

// The terminal's settings while echo is off, so that a signal can put them back before
// the process ends.
int sTerminal = -1;
struct termios sSavedSettings;
const int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};

extern "C" void restoreTerminalAndRaise(int signal) {
    if (sTerminal >= 0) ::tcsetattr(sTerminal, TCSAFLUSH, &sSavedSettings);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

class Terminal {
public:
    Terminal() : mFd(::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY)) {}
    ~Terminal() {
        if (mFd >= 0) ::close(mFd);
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;
    bool isOpen() const { return mFd >= 0; }

    // Reads one line with echo off.
    KQUSecretBuffer askHidden(const std::string& prompt) {
        struct termios settings;
        if (::tcgetattr(mFd, &settings) != 0) throw KQUToolError("cannot turn off echo on the terminal");
        sSavedSettings = settings;
        sTerminal = mFd;
        struct sigaction action {};
        action.sa_handler = restoreTerminalAndRaise;
        struct sigaction previous[std::size(kSignals)];
        for (size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &action, &previous[i]);
        settings.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        settings.c_lflag |= ECHONL;
        KQUSecretBuffer line;
        // Echo goes off before the prompt appears, so nothing typed after it is shown.
        bool ok = ::tcsetattr(mFd, TCSAFLUSH, &settings) == 0;
        if (ok) {
            write(prompt);
            ok = readLine(line);
        }
        ::tcsetattr(mFd, TCSAFLUSH, &sSavedSettings);
        sTerminal = -1;
        for (size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &previous[i], nullptr);
        if (!ok) throw KQUToolError("no passphrase was entered");
        return line;
    }

private:
    void write(const std::string& text) {
        for (size_t done = 0; done < text.size();) {
            ssize_t n = ::write(mFd, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            done += static_cast<size_t>(n);
        }
    }

    bool readLine(KQUSecretBuffer& line) {
        for (;;) {
            char c;
            ssize_t n = ::read(mFd, &c, 1);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            if (c == '\n') return true;
            if (line.size() >= kMaxPassphraseLength) return false;
            line.append(c);
        }
    }

    int mFd;
};

void dropLineEnd(KQUSecretBuffer& line) {
    if (!line.empty() && line.view().back() == '\r') line.popBack();
}

KQUSecretBuffer fromFile(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rbe");
    if (!file) throw KQUToolError(fmt::format("{}: cannot read the passphrase file", path));
    KQUScopeExit closeFile([&] { std::fclose(file); });
    // Unbuffered, so that no copy of the passphrase stays in a stdio buffer.
    std::setvbuf(file, nullptr, _IONBF, 0);
    KQUSecretBuffer line;
    for (int c; (c = std::fgetc(file)) != EOF && c != '\n';) line.append(static_cast<char>(c));
    if (std::ferror(file)) throw KQUToolError(fmt::format("{}: cannot read the passphrase file", path));
    dropLineEnd(line);
    return line;
}

KQUSecretBuffer fromTerminal(KQUPassphrasePurpose purpose) {
    Terminal terminal;
    if (!terminal.isOpen())
        throw KQUToolError(fmt::format("a passphrase is needed: use {} FILE, set {}, or run on a terminal",
                                       KQUPassphraseFileOption, KQUPassphraseEnvironmentVariable));
    KQUSecretBuffer passphrase = terminal.askHidden("Passphrase: ");
    if (purpose == KQUPassphrasePurpose::Create) {
        if (passphrase.empty()) throw KQUToolError("the passphrase is empty");
        if (!(terminal.askHidden("Passphrase again: ") == passphrase))
            throw KQUToolError("the passphrases do not match");
    }
    return passphrase;
}

}  // namespace

std::optional<KQUSecretBuffer> KQUToolPassphrase(const KQUToolArguments& arguments, bool required,
                                                 KQUPassphrasePurpose purpose) {
    std::optional<KQUSecretBuffer> passphrase;
    if (auto file = arguments.value(KQUPassphraseFileOption)) {
        passphrase = fromFile(*file);
    } else if (const char* environment = std::getenv(KQUPassphraseEnvironmentVariable)) {
        passphrase = KQUSecretBuffer(environment);
    } else if (required) {
        passphrase = fromTerminal(purpose);
    }
    if (passphrase && passphrase->empty() && purpose == KQUPassphrasePurpose::Create)
        throw KQUToolError("the passphrase is empty");
    return passphrase;
}

uint32_t KQUToolIterationCount(const KQUToolArguments& arguments, uint32_t defaultCount) {
    auto text = arguments.value(KQUIterationsOption);
    if (!text) return defaultCount;
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(text->c_str(), &end, 10);
    if (text->empty() || (*text)[0] < '0' || (*text)[0] > '9' || *end != '\0' || errno != 0 || value < 1 ||
        value > 2147483647LL)
        throw KQUToolUsageError(fmt::format("{} needs a whole number from 1 to 2147483647, not '{}'",
                                       KQUIterationsOption, *text));
    return static_cast<uint32_t>(value);
}

}  // namespace kqu::tool
