#pragma once

#include <cstddef>

// Tells the system that a freshly allocated buffer of many megabytes is about to be filled whole.
// Only a hint: the buffer's bytes are neither read nor written, and nothing fails.
void HintLargeBuffer(void* data, size_t bytes);
