# The training loop processes the events of Qt's event loop, as the program does.
list(APPEND bench_libs Qt6::Core)
