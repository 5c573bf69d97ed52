# The capture tests link the capture program's parts and run the program
# itself, so both must be built first.
if(TARGET capture_tests AND TARGET capture_core)
    target_link_libraries(capture_tests PRIVATE capture_core)
    add_dependencies(capture_tests tuhkala-capture)
endif()
