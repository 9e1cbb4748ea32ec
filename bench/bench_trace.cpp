// Per-call cost of a trace's step (plain chord step and halving branch) and of the
// polyline copy the drawing takes every frame.
#include <chrono>
#include <cstdio>

#include "trace.h"

namespace {

const float STEP = 1873.8f;  // the default step: 0.5 x 3747.6 m

volatile float sink;

template <typename F>
double perCall(int calls, F f) {
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < calls; ++i) f(i);
    auto t1 = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::nano>(t1 - t0).count() / calls;
}

}  // namespace

int main() {
    const GeoTrace demo(GeoPoint(55, 49.28f, 17.27f, 1200000), GeoPoint(56, 0, -45, 500000));
    // Above sea level, 179 degrees apart: the chord is longer than 30, every step halves.
    const GeoTrace wide(GeoPoint(0, 0, 1200000), GeoPoint(0, 179, 1200000));
    const int rounds = 20;
    const int steps = 2000;  // the demonstration trace arrives after about 2,420 steps

    double best[3] = {1e30, 1e30, 1e30};
    for (int r = 0; r < rounds; ++r) {
        GeoTrace t = demo;
        double plain = perCall(steps, [&](int) { sink = t.move(STEP); });
        GeoTrace h = wide;
        double halving = perCall(steps, [&](int) { sink = h.move(STEP); });
        double copy = perCall(steps * 10, [&](int) { sink = t.getPoints()[16].x; });
        if (plain < best[0]) best[0] = plain;
        if (halving < best[1]) best[1] = halving;
        if (copy < best[2]) best[2] = copy;
    }
    std::printf("move, plain branch (demonstration trace):   %8.1f ns/call\n", best[0]);
    std::printf("move, halving branch (179 deg at 1,200 km):  %8.1f ns/call\n", best[1]);
    std::printf("getPoints (33 points):                        %8.1f ns/call\n", best[2]);
    std::printf("best of %d rounds of %d calls each\n", rounds, steps);
    return 0;
}
