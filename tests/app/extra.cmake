# Script tests of the real show binary (show_test.sh): its window under a
# private Xvfb, the ways a user ends it, its start-up failures, and what the
# full-screen and resized windows show. A test whose tools are not installed
# reports itself skipped (exit status 77). command_line_test.sh asks the three
# programs for help, version and usage errors.
find_package(X11)
set(SEND_CLOSE "")
set(SCREEN_CHECK "")
if(X11_FOUND AND X11_Xfixes_FOUND)
    add_executable(tuhkala-send-close ${CMAKE_CURRENT_SOURCE_DIR}/app/x11/send_close.cpp)
    target_link_libraries(tuhkala-send-close PRIVATE X11::X11)
    set(SEND_CLOSE $<TARGET_FILE:tuhkala-send-close>)
    add_executable(tuhkala-screen-check ${CMAKE_CURRENT_SOURCE_DIR}/app/x11/screen_check.cpp)
    target_link_libraries(tuhkala-screen-check PRIVATE X11::X11 X11::Xfixes test_support
                                                       capture_core)
    set(SCREEN_CHECK $<TARGET_FILE:tuhkala-screen-check>)
endif()

if(TARGET tuhkalademo)
    # The live sound test runs the show binary.
    add_dependencies(app_tests tuhkalademo)
    foreach(MODE properties framed fullscreen resized no-video no-gl)
        set(NAME app_window_${MODE})
        if(MODE MATCHES "^no-")
            set(NAME app_startup_${MODE})
        endif()
        add_test(NAME ${NAME}
                 COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/app/show_test.sh ${MODE}
                         $<TARGET_FILE:tuhkalademo> "${SEND_CLOSE}" "${SCREEN_CHECK}"
                         $<TARGET_FILE:tuhkala-capture>
                 WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
        set_tests_properties(${NAME} PROPERTIES LABELS app SKIP_RETURN_CODE 77 TIMEOUT 120)
    endforeach()
    # Every frame up to the instant is drawn at 1280x720 on a software
    # renderer, and captured once more: two cores' work, never beside the live
    # sound test, which plays in real time (schedule.cmake, also for COST).
    set_tests_properties(app_window_fullscreen PROPERTIES TIMEOUT 300 COST 5
                                                          RESOURCE_LOCK real_time_sound)
    add_test(NAME app_command_line
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/app/command_line_test.sh ${TUHKALA_VERSION}
                     $<TARGET_FILE:tuhkalademo> $<TARGET_FILE:tuhkala-capture>
                     $<TARGET_FILE:tuhkala-inspect>
             WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
    set_tests_properties(app_command_line PROPERTIES LABELS app TIMEOUT 60)
endif()
