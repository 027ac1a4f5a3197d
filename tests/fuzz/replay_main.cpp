// tests/fuzz/replay_main.cpp: runs every file of the corpus folders given on
// the command line through a fuzz harness once, so the corpora serve as a
// regression test in the builds without libFuzzer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

// Each input in memory of exactly its own size, as libFuzzer gives it, so
// that a sanitizer sees any read beyond its end.
void replay(const std::filesystem::path &file)
{
    std::ifstream in(file, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<uint8_t> exact(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS_FOLDER...\n", argv[0]);
        return 2;
    }
    long count = 0;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        std::filesystem::directory_iterator folder(argv[i], error);
        if (error) {
            std::fprintf(stderr, "%s: cannot read %s: %s\n", argv[0], argv[i],
                         error.message().c_str());
            return 2;
        }
        std::vector<std::filesystem::path> files;
        for (const auto &entry : folder)
            if (entry.is_regular_file())
                files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        for (const auto &file : files) {
            // Named first, so that a crash shows which input caused it.
            std::fprintf(stderr, "replay %s\n", file.c_str());
            replay(file);
            ++count;
        }
    }
    if (count == 0) {
        std::fprintf(stderr, "%s: no corpus files found\n", argv[0]);
        return 1;
    }
    std::printf("%ld inputs replayed\n", count);
    return 0;
}
