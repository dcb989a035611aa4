# The sync server end to end: a vellora-cloud process of its own on loopback, driven through HttpCloud.
add_executable(bench_cloud CloudBench.cpp)
target_link_libraries(bench_cloud PRIVATE synckit_http)
target_compile_definitions(bench_cloud PRIVATE VELLORA_CLOUD_BINARY="$<TARGET_FILE:vellora-cloud>")
add_dependencies(bench_cloud vellora-cloud)
