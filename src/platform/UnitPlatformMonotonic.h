#pragma once
// Real elapsed time for network time-outs: sockets wait in real time, so a test clock must not stop them.

#include <cstdint>

// Milliseconds since an arbitrary start, never going back, never replaced by a test clock.
uint64_t MonotonicMs();
