# The caption's text is drawn with Qt fonts.
target_link_libraries(bench_text_frame PRIVATE astrelon_ui)
