// KQUAtomicOutputStream is the KQUOutputStream face of KQUAtomicOutputFile: layers such as
// the encrypting stream write into it, and the file appears at its target path only when
// keep() is called. close() (which the layers above call when they finish) only ends
// writing; it never puts the file in place. Destroying the stream without keep() removes
// the temporary file and leaves the target as it was.
//
// Ownership: owns its KQUAtomicOutputFile. Threads: one thread at a time.
#pragma once

#include <memory>
#include <string>

#include "kqutility/foundation/KQUAtomicOutputFile.h"
#include "kqutility/streams/KQUStream.h"

namespace kqu {

class KQUAtomicOutputStream final : public KQUOutputStream {
public:
    explicit KQUAtomicOutputStream(std::string targetPath, KQUAtomicOutputFileOptions options = {})
        : mFile(std::move(targetPath), options) {}

    KQUAtomicOutputFile& file() { return mFile; }
    // Puts the file in place (KQUAtomicOutputFile::keep()); throws KQUAtomicOutputFileError.
    void keep() { mFile.keep(); }

    // Unbuffered; throws KQUAtomicOutputFileError ("Could not write <target>: ...").
    void writeBuffer(const char* buffer, uint32_t size) override;
    int64_t offset() override;
    bool canSeek() override { return true; }
    void seekToOffset(int64_t offset, int whence) override;
    bool canCreateInputStream() override { return false; }
    std::shared_ptr<KQUInputStream> inputStream() override { return nullptr; }
    // Ends writing; later writes are refused. The file is kept only by keep().
    void close() override { mClosed = true; }
    std::shared_ptr<KQUOutputStream> closeLocalStream() override {
        close();
        return nullptr;
    }

private:
    KQUAtomicOutputFile mFile;
    bool mClosed = false;
};

}  // namespace kqu
