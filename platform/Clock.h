// Millisecond ticks and sleeping.
#pragma once

#include <cstdint>

// Milliseconds of a monotonic clock, cut to 32 bits (wraps after about 49.7
// days). Only differences are meaningful.
uint32_t GetTickCount32();

// Blocks the calling thread for at least `milliseconds`.
void SleepMs(uint32_t milliseconds);
