# The app's side of the command-line channel, for bench/shell-add.sh. Not a Google Benchmark program, so it is
# not named bench_* and run-all leaves it to the script.
add_executable(instance_server InstanceServer.cpp)
target_link_libraries(instance_server PRIVATE vellora_commands vellora_sync vellora_instance)

# The plain Qt window that bench/startup.sh starts beside the app, for scale. Not a Google Benchmark program.
add_executable(plain_window PlainWindow.cpp)
target_link_libraries(plain_window PRIVATE Qt6::Widgets)
