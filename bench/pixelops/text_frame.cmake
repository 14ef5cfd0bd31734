# The caption's text is drawn with Qt fonts.
list(APPEND bench_libs astrelon_ui)
