// Runs a fuzz target without libFuzzer, in one of two ways:
//   --iterations N --seed S   seeded random inputs of random length, some of them built from bytes
//                             the protocol cares about, so that a plain gcc build still exercises
//                             every target;
//   FILE|FOLDER...            every file (a folder: every file in it, a seed corpus) is one input,
//                             so that CTest replays the committed corpora in every build and a
//                             fixed crash stays fixed.
// One program does both, so that each target is compiled and linked once.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void runRandom(unsigned long iterations, unsigned long seed) {
    std::mt19937 rng(static_cast<std::mt19937::result_type>(seed));
    static const uint8_t kInteresting[] = {
        0x00, 0x01, 0x02, 0x03, 0x05, 0x0D, 0x0A, 0x11, 0x13, 0x1F, 0x20, 0x2D, 0x3A, 0x2E, 0x4E,
        0x53, 0x45, 0x57, 0x55, 0x7F, 0x80, 0x81, 0x86, 0xA0, 0xAA, 0xC0, 0xDF, 0xE0, 0xFF};
    std::vector<uint8_t> input;
    for (unsigned long it = 0; it < iterations; ++it) {
        size_t len = rng() % 512;
        if (rng() % 8 == 0) {
            len = rng() % 4096;
        }
        input.resize(len);
        const bool structured = (rng() % 2) == 0;
        for (auto& b : input) {
            if (structured) {
                b = kInteresting[rng() % sizeof(kInteresting)];
            } else {
                b = static_cast<uint8_t>(rng());
            }
        }
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%lu inputs run, 0 failed\n", iterations);
}

bool runFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
        return false;
    }
    const std::vector<uint8_t> input((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(input.data(), input.size());
    return true;
}

int replay(const std::vector<const char*>& paths) {
    size_t runs = 0;
    for (const char* name : paths) {
        const std::filesystem::path path(name);
        std::vector<std::filesystem::path> files;
        std::error_code error;
        if (std::filesystem::is_directory(path, error)) {
            for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
                if (entry.is_regular_file()) {
                    files.push_back(entry.path());
                }
            }
        } else {
            files.push_back(path);
        }
        for (const auto& file : files) {
            if (!runFile(file)) {
                return 1;
            }
            ++runs;
        }
    }
    if (runs == 0) {
        std::fprintf(stderr, "no inputs found\n");
        return 1;
    }
    std::printf("%zu inputs replayed, 0 failed\n", runs);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    unsigned long iterations = 10000;
    unsigned long seed = 1;
    std::vector<const char*> paths;
    for (int i = 1; i < argc; ++i) {
        const bool valued = i + 1 < argc;
        if (valued && std::strcmp(argv[i], "--iterations") == 0) {
            iterations = std::strtoul(argv[++i], nullptr, 10);
        } else if (valued && std::strcmp(argv[i], "--seed") == 0) {
            seed = std::strtoul(argv[++i], nullptr, 10);
        } else if (std::strncmp(argv[i], "--", 2) == 0) {
            std::fprintf(stderr, "unknown option %s\n", argv[i]);
            return 2;
        } else {
            paths.push_back(argv[i]);
        }
    }
    if (!paths.empty()) {
        return replay(paths);
    }
    runRandom(iterations, seed);
    return 0;
}
