#pragma once

// Every wait of the setup (status tick, watchdog samples, retry pauses, notices) goes through
// here, so that tests of the timing rules can run in milliseconds.
void SleepFor(unsigned milliseconds);

// Tests replace the wait; a null function restores the real one.
using SleepFunction = void (*)(unsigned milliseconds);
void SetSleepFunction(SleepFunction function);
