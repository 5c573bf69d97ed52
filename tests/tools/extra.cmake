# The inspect tests run the tool itself.
if(TARGET tools_tests AND TARGET tuhkala-inspect)
    add_dependencies(tools_tests tuhkala-inspect)
endif()
