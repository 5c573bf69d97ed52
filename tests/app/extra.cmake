# Script tests of the real show binary (show_test.sh): its window under a
# private Xvfb, the ways a user ends it, and its start-up failures. A test
# whose tools are not installed reports itself skipped (exit status 77).
find_package(X11)
set(SEND_CLOSE "")
if(X11_FOUND)
    add_executable(tuhkala-send-close ${CMAKE_CURRENT_SOURCE_DIR}/app/x11/send_close.cpp)
    target_link_libraries(tuhkala-send-close PRIVATE X11::X11)
    set(SEND_CLOSE $<TARGET_FILE:tuhkala-send-close>)
endif()

if(TARGET tuhkalademo)
    # The live sound test runs the show binary.
    add_dependencies(app_tests tuhkalademo)
    foreach(MODE properties framed key escape close no-video no-gl)
        set(NAME app_window_${MODE})
        if(MODE MATCHES "^no-")
            set(NAME app_startup_${MODE})
        endif()
        add_test(NAME ${NAME}
                 COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/app/show_test.sh ${MODE}
                         $<TARGET_FILE:tuhkalademo> "${SEND_CLOSE}"
                 WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
        set_tests_properties(${NAME} PROPERTIES LABELS app SKIP_RETURN_CODE 77 TIMEOUT 120)
    endforeach()
endif()
