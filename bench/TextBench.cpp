// Cost of the angle text routines used by the Advanced settings dialog and the command line.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "text/Text.h"

namespace vornic {
namespace {

void BM_AngleRoundTrip(benchmark::State& state) {
    char buffer[32];
    int32_t angle = -15552000;
    for (auto _ : state) {
        const uint32_t end = appendAngle(buffer, sizeof buffer, 0, angle);
        int32_t back = 0;
        (void)readAngle(buffer, end, 0, &back, 0);
        benchmark::DoNotOptimize(back);
        angle += 24 * 61;
        if (angle > 15552000) {
            angle = -15552000;
        }
    }
}
BENCHMARK(BM_AngleRoundTrip);

}  // namespace
}  // namespace vornic
