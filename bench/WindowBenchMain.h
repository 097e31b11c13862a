#pragma once
// The main of a window benchmark: Qt's offscreen platform unless another is
// asked for, and Qt's test folders, so settings a benchmark writes (search
// history, download folder) stay out of the user's.

#include <QApplication>
#include <QStandardPaths>
#include <benchmark/benchmark.h>

// beforeQuit: run after the benchmarks, while the application still stands
// (windows kept between benchmarks go there).
template <class BeforeQuit> int RunWindowBenchmarks(int argc, char** argv, BeforeQuit beforeQuit)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    int nQtArgs = 1;
    QApplication app(nQtArgs, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    beforeQuit();
    benchmark::Shutdown();
    return 0;
}

inline int RunWindowBenchmarks(int argc, char** argv)
{
    return RunWindowBenchmarks(argc, argv, [] {});
}
