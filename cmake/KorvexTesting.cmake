# korvex_add_test(<name> SOURCES <files...> [LIBS <targets...>] [INTEGRATION] [TIMEOUT <s>])
#
# Builds a GoogleTest executable and registers it with ctest; ctest runs it under Wine through the
# toolchain's emulator. Integration tests start other processes in the shared Wine prefix (the
# simulator, the server), so they run one at a time and the wineserver is restarted after each
# (Wine keeps the class registration of a killed server until then). The program's own time limit
# ends a hung test 40 s before ctest would, so that its runner still cleans up after it and the
# next test does not find the processes it left behind.
function(korvex_add_test name)
    cmake_parse_arguments(T "INTEGRATION" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
    if(T_INTEGRATION)
        add_test(NAME ${name} COMMAND ${name})
        if(NOT T_TIMEOUT)
            set(T_TIMEOUT 300)
        endif()
        math(EXPR run_timeout "${T_TIMEOUT} - 40")
        set_tests_properties(${name} PROPERTIES
            LABELS integration RUN_SERIAL TRUE TIMEOUT ${T_TIMEOUT}
            ENVIRONMENT "KORVEX_RESTART_WINESERVER=1;KORVEX_RUN_TIMEOUT=${run_timeout};KORVEX_BIN_DIR=${CMAKE_BINARY_DIR}/bin")
    else()
        add_test(NAME ${name} COMMAND ${name})
        if(NOT T_TIMEOUT)
            set(T_TIMEOUT 120)
        endif()
        math(EXPR run_timeout "${T_TIMEOUT} - 40")
        set_tests_properties(${name} PROPERTIES LABELS unit TIMEOUT ${T_TIMEOUT}
            RESOURCE_LOCK wine-unit ENVIRONMENT "KORVEX_RUN_TIMEOUT=${run_timeout}")
    endif()
endfunction()
