# The reference-frame test runs the capture program.
if(TARGET golden_tests AND TARGET tuhkala-capture)
    add_dependencies(golden_tests tuhkala-capture)
endif()
