# The sync server end to end: a vellora-cloud process of its own on loopback, driven through HttpCloud
# (bench_cloud), by a load generator at fixed request rates over several connections (bench_cloud_load), and by
# push connections opened and closed by the thousand (bench_cloud_push_churn); a change carried from one computer's
# store to another's (bench_instant).
add_executable(bench_cloud CloudBench.cpp BenchServer.h Percentile.h)
add_executable(bench_cloud_load CloudLoad.cpp BenchServer.h Percentile.h)
add_executable(bench_cloud_push_churn PushChurn.cpp BenchServer.h)
add_executable(bench_instant InstantBench.cpp BenchServer.h Percentile.h)
foreach(program bench_cloud bench_cloud_load bench_cloud_push_churn bench_instant)
    target_link_libraries(${program} PRIVATE synckit_http)
    target_include_directories(${program} PRIVATE ${PROJECT_SOURCE_DIR})
    target_compile_definitions(${program} PRIVATE VELLORA_CLOUD_BINARY="$<TARGET_FILE:vellora-cloud>")
    add_dependencies(${program} vellora-cloud)
endforeach()
target_link_libraries(bench_instant PRIVATE vellora_sync_net)
