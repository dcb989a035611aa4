#pragma once

#include <cstddef>

// A start touches a few megabytes of fresh heap at once (a file read whole, a parser's buffers, the items built
// from them, a window's widgets and fonts). The kernel faults fresh memory in one 4 KiB page at a time, and on a
// virtual machine each fault costs several microseconds: about 10 ms for 4 MB. Growing the heap once by `bytes`
// and asking for transparent huge pages on it has the same memory faulted in a few 2 MiB steps. Where the system
// gives no huge pages (disabled, not glibc), nothing changes but the speed.
//
// Call it first thing, before any other thread starts: until settleHeap(), every thread allocates from this heap,
// large blocks included, and what is freed stays in it.
void growHeapOnHugePages(std::size_t bytes);

// For a process that runs on once its start is done: large blocks get mappings of their own again and what is
// freed goes back to the system, as by default. Nothing to do when the heap was not grown.
void settleHeap();
