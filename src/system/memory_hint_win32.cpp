#include "system/memory_hint.h"

// Windows gives large pages only to holders of the "lock pages in memory" privilege, which a setup
// does not have; the ordinary pages serve.
void HintLargeBuffer(void*, size_t) {}
