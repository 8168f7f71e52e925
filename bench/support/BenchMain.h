#pragma once

#include <benchmark/benchmark.h>

// The main of a benchmark program whose code needs a Qt application (event
// loop, sockets, timers) of type App.
template <typename App> int runBenchmarks(int argc, char** argv) {
    App app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
