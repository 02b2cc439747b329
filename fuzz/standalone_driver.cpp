// Runs a fuzz target without libFuzzer: seeded random inputs of random length, some of them built
// from bytes the protocol cares about, so that a plain gcc build still exercises every target.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    unsigned long iterations = 10000;
    unsigned long seed = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--iterations") == 0) {
            iterations = std::strtoul(argv[i + 1], nullptr, 10);
        } else if (std::strcmp(argv[i], "--seed") == 0) {
            seed = std::strtoul(argv[i + 1], nullptr, 10);
        }
    }
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
    return 0;
}
