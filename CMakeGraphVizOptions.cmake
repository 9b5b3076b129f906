# `cmake --graphviz=FILE build` draws the layers and programs. The test
# programs are left out: test discovery runs each one after it is built,
# which the graph would show as a test depending on itself.
set(GRAPHVIZ_IGNORE_TARGETS ".*_tests$" "GTest::.*" "dialog_gallery" ".*_bench$" "bench_.*" "unlha_run" "lh5_throughput")
set(GRAPHVIZ_GENERATE_PER_TARGET FALSE)
set(GRAPHVIZ_GENERATE_DEPENDERS FALSE)
