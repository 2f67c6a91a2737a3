#pragma once

#include "base/test_hooks.h"

// Every wait of the setup (status tick, watchdog samples, retry pauses, notices) goes through
// here, so that tests of the timing rules can run in milliseconds.
void SleepFor(unsigned milliseconds);
