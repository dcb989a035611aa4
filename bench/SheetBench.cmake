# The Today sheet and the Backlog page: committing a row, opening the Backlog.
vellora_add_bench(bench_sheet SOURCES SheetBench.cpp ${PROJECT_SOURCE_DIR}/tests/Sheet/SheetWindow.cpp
    LIBS vellora_sheet Qt6::Test)
