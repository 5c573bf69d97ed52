# Script tests of the real show binary: its window under a private Xvfb, the
# ways a user ends it, and its start-up failures. A test whose tools are not
# installed reports itself skipped (exit status 77).
find_package(X11)
if(X11_FOUND)
    add_executable(tuhkala-send-close ${CMAKE_CURRENT_SOURCE_DIR}/app/x11/send_close.cpp)
    target_link_libraries(tuhkala-send-close PRIVATE X11::X11)
    set(SEND_CLOSE $<TARGET_FILE:tuhkala-send-close>)
else()
    set(SEND_CLOSE "")
endif()

if(TARGET tuhkalademo)
    foreach(CASE window startup)
        if(CASE STREQUAL window)
            set(MODES properties framed key escape close)
        else()
            set(MODES no-video no-gl)
        endif()
        foreach(MODE ${MODES})
            add_test(NAME app_${CASE}_${MODE}
                     COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/app/${CASE}_test.sh ${MODE}
                             $<TARGET_FILE:tuhkalademo> "${SEND_CLOSE}"
                     WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
            set_tests_properties(app_${CASE}_${MODE} PROPERTIES
                LABELS app SKIP_RETURN_CODE 77 TIMEOUT 120)
        endforeach()
    endforeach()
endif()
