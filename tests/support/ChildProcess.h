#pragma once
// Runs part of a test in a forked child, for crashes on purpose (a save cut
// short by _exit) and for what must not outlive the child (a mount).

#include <chrono>
#include <functional>

// Runs fn in a forked child and returns its exit code (-1: killed by a
// signal or still running after the time-out, then killed). The child ends
// with _exit: nothing of the test's own runs twice.
int RunInChild(const std::function<int()>& fn,
               std::chrono::seconds timeout = std::chrono::seconds(60));
