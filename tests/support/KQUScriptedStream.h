// One input stream for the tests that need a stream to misbehave in a chosen way: it
// answers at most `piece` bytes a read (a trickling source), throws a read error once
// its bytes are used up instead of ending (a failing source), may refuse to seek, and
// counts its reads, seeks and closes. It cannot lend its bytes.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>

#include "kqutility/foundation/KQUException.h"
#include "kqutility/streams/KQUStream.h"

namespace kqu::test {

class ScriptedInputStream final : public KQUInputStream {
public:
    struct Script {
        uint32_t piece = UINT32_MAX;  // the most bytes one read answers
        bool failAtEnd = false;       // the read after the last byte throws
        bool seekable = false;
    };
    ScriptedInputStream(std::string bytes, Script script) : mBytes(std::move(bytes)), mScript(script) {}
    template <typename Bytes>
    ScriptedInputStream(const Bytes& bytes, Script script)
        : ScriptedInputStream(std::string(bytes.begin(), bytes.end()), script) {}

    uint32_t readToBuffer(char* buffer, uint32_t size) override {
        ++reads;
        if (mScript.failAtEnd && mPosition >= mBytes.size() && size)
            throw KQUException("KQUReadError", "Could not read: Input/output error");
        auto n = static_cast<uint32_t>(std::min<size_t>({size, mScript.piece, mBytes.size() - mPosition}));
        std::memcpy(buffer, mBytes.data() + mPosition, n);
        mPosition += n;
        return n;
    }
    int64_t offset() override { return static_cast<int64_t>(mPosition); }
    bool canSeek() override { return mScript.seekable; }
    void seekToOffset(int64_t offset) override {
        ++seeks;
        mPosition = static_cast<size_t>(offset);
    }
    void disableSystemCaching() override {}
    void enableSystemCaching() override {}
    void close() override { closed = true; }
    std::shared_ptr<KQUInputStream> closeLocalStream() override { return nullptr; }

    size_t position() const { return mPosition; }
    int reads = 0, seeks = 0;
    bool closed = false;

private:
    std::string mBytes;
    Script mScript;
    size_t mPosition = 0;
};

}  // namespace kqu::test
