#pragma once
// The calling thread (and the threads it starts from now on) gives way to
// the process's other threads when they want the processor: for searches,
// index builds and downloads, so that on a machine of two cores the
// window's thread is not made to wait for them.
void GiveWayToOtherThreads();
