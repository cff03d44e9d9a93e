# Common compile settings and test registration for both configurations.

set(VANTREL_SANITIZE "" CACHE STRING "Native sanitizer build: address (ASan+UBSan), thread, fuzz (clang: libFuzzer+ASan+UBSan), or empty")
# Seconds a suite may run before it fails.
set(VANTREL_NATIVE_TEST_TIMEOUT 60)
set(VANTREL_WINE_TEST_TIMEOUT 600)

function(vantrel_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

if(NOT WIN32)
    if(VANTREL_SANITIZE STREQUAL "address")
        add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
        add_link_options(-fsanitize=address,undefined)
    elseif(VANTREL_SANITIZE STREQUAL "fuzz")
        # clang only: every library is instrumented for libFuzzer; only the
        # fuzz harness links its driver.
        add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                            -fno-sanitize-recover=all)
        add_link_options(-fsanitize=address,undefined)
    elseif(VANTREL_SANITIZE STREQUAL "thread")
        add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
        add_link_options(-fsanitize=thread)
    elseif(NOT VANTREL_SANITIZE STREQUAL "")
        message(FATAL_ERROR "VANTREL_SANITIZE must be address, thread, fuzz or empty")
    endif()
endif()

# Google Test: the Debian package natively, built from its sources for Windows.
if(WIN32)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
else()
    find_package(GTest REQUIRED)
    find_package(benchmark QUIET)
endif()

# vantrel_test(NAME n RUNS native|wine|both [DESKTOP] SOURCES ... LIBS ...)
# A suite states where it runs; "wine" suites exist only in the mingw build
# and run through the crosscompiling emulator. DESKTOP: the suite shows
# windows. All Wine programs share one screen, and Wine stacks the windows of
# different processes in the order they were mapped, whatever their z-order,
# so such suites run one at a time; a suite that links window code must say so.
# PREFIX: a Wine suite that needs a Wine session of its own runs in this prefix.
# X86: the suite is one of the few that the 32-bit build also runs.
function(vantrel_test)
    cmake_parse_arguments(T "DESKTOP;X86" "NAME;RUNS;PREFIX" "SOURCES;LIBS;LABELS" ${ARGN})
    if(VANTREL_X86 AND NOT T_X86)
        return()
    elseif(T_RUNS STREQUAL "both")
    elseif(T_RUNS STREQUAL "native" AND WIN32)
        return()
    elseif(T_RUNS STREQUAL "wine" AND NOT WIN32)
        return()
    elseif(NOT T_RUNS MATCHES "^(native|wine)$")
        message(FATAL_ERROR "vantrel_test ${T_NAME}: RUNS must be native, wine or both")
    endif()
    add_executable(${T_NAME} ${T_SOURCES})
    vantrel_warnings(${T_NAME})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest_main)
    if(WIN32)
        target_link_options(${T_NAME} PRIVATE -static)
    endif()
    if(WIN32 AND T_PREFIX)
        add_test(NAME ${T_NAME} COMMAND ${PROJECT_SOURCE_DIR}/tools/wine-run.sh ${T_PREFIX} $<TARGET_FILE:${T_NAME}>)
    else()
        add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    endif()
    # A hung suite fails on its own instead of stalling the whole run: a
    # native suite takes seconds, a Wine one starts the prefix and windows.
    if(WIN32)
        # A prefix is made for the build's architecture on its first use.
        set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${VANTREL_WINE_TEST_TIMEOUT}
                                                  ENVIRONMENT WINEARCH=${VANTREL_WINEARCH})
    else()
        set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${VANTREL_NATIVE_TEST_TIMEOUT})
    endif()
    if(T_LABELS)
        set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
    endif()
    if(WIN32 AND NOT T_DESKTOP AND "${T_LIBS};${T_SOURCES}" MATCHES "(^|;)(user32|[a-z]+win)(;|$)|VantrelProcess")
        message(FATAL_ERROR "vantrel_test ${T_NAME}: links window code or starts Vantrel.exe but does not say DESKTOP")
    endif()
    if(T_DESKTOP)
        set_property(TEST ${T_NAME} APPEND PROPERTY RESOURCE_LOCK wine_desktop)
    endif()
endfunction()

# vantrel_benchmark(NAME n SOURCES ... LIBS ...): native only, not run by ctest.
function(vantrel_benchmark)
    cmake_parse_arguments(B "" "NAME" "SOURCES;LIBS" ${ARGN})
    if(WIN32 OR NOT benchmark_FOUND)
        return()
    endif()
    add_executable(${B_NAME} ${B_SOURCES})
    vantrel_warnings(${B_NAME})
    target_link_libraries(${B_NAME} PRIVATE ${B_LIBS} benchmark::benchmark)
endfunction()
