# Sync: ten thousand queued changes sent to a MemoryCloud and fetched by a second device.
vellora_add_bench(bench_sync SOURCES SyncBench.cpp LIBS vellora_sync synckit_memory)
