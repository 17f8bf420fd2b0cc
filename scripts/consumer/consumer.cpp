// Opens a zip package, reads one entry and compares it with the expected bytes:
//   consumer ARCHIVE ENTRY EXPECTED-FILE
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "kqutility/zip/KQUZipArchive.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: consumer ARCHIVE ENTRY EXPECTED-FILE\n");
        return 2;
    }
    std::ifstream file(argv[3], std::ios::binary);
    std::string expected((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    try {
        kqu::KQUZipArchive archive{std::string(argv[1])};
        auto entry = archive.entryWithName(argv[2]);
        if (!entry) {
            std::fprintf(stderr, "%s: no entry %s\n", argv[1], argv[2]);
            return 1;
        }
        auto data = entry->data();
        if (!data || std::string(data->begin(), data->end()) != expected) {
            std::fprintf(stderr, "%s: entry %s differs from %s\n", argv[1], argv[2], argv[3]);
            return 1;
        }
        std::printf("read %zu bytes of %s, as expected\n", data->size(), argv[2]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", argv[1], e.what());
        return 1;
    }
    return 0;
}
