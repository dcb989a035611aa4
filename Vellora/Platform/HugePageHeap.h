#pragma once

#include <cstddef>

// A short-lived process touches a few megabytes of fresh heap at once (a file read whole, a parser's buffers, the
// items built from them). The kernel faults fresh memory in one 4 KiB page at a time, and on a virtual machine each
// fault costs several microseconds: about 10 ms for 4 MB. Growing the heap once by `bytes` and asking for
// transparent huge pages on it has the same memory faulted in a few 2 MiB steps. Where the system gives no huge
// pages (disabled, not glibc), nothing changes but the speed. Call it early, before the large allocations.
void growHeapOnHugePages(std::size_t bytes);
