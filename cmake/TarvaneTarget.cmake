# Warnings and sanitizers are set per target, never globally, so third-party
# code found by find_package is left alone.

function(tarvane_target target)
    target_compile_features(${target} PUBLIC cxx_std_20)
    target_compile_options(${target} PRIVATE -Wall -Wextra)
    if(TARVANE_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
    if(TARVANE_SANITIZE)
        string(REPLACE ";" "," _san "${TARVANE_SANITIZE}")
        target_compile_options(${target} PRIVATE -fsanitize=${_san} -fno-omit-frame-pointer
                                                 -fno-sanitize-recover=all)
        target_link_options(${target} PUBLIC -fsanitize=${_san})
    endif()
    if(TARVANE_HARDEN AND NOT TARVANE_SANITIZE AND NOT TARVANE_FUZZ)
        # What dpkg-buildflags gives a package, so a binary built here is as hard as the .deb's.
        target_compile_options(${target} PRIVATE -fstack-protector-strong -fstack-clash-protection
                                                 -fcf-protection)
        target_compile_definitions(${target} PRIVATE $<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
        target_link_options(${target} PUBLIC -Wl,-z,relro -Wl,-z,now)
    endif()
    if(TARVANE_FUZZ)
        # Coverage for the fuzzer in every library it drives.
        target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
    endif()
endfunction()

# One GoogleTest executable per test source; the tests of a library sit beside it.
function(tarvane_test name)
    cmake_parse_arguments(T "NETNS" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    tarvane_target(${name})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock)
    # The tests that make widgets take the main of testsupport_qt, which makes the application.
    if(NOT testsupport_qt IN_LIST T_LIBS)
        target_link_libraries(${name} PRIVATE GTest::gtest_main)
    endif()
    if(T_NETNS)
        # Tests that bind fixed ports run in a private network namespace of their own.
        add_test(NAME ${name} COMMAND ${PROJECT_SOURCE_DIR}/tests/netns-run.sh $<TARGET_FILE:${name}>)
    else()
        add_test(NAME ${name} COMMAND ${name})
    endif()
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8"
                                            TIMEOUT 300)
endfunction()

# A folder's library from the sources it names; each of its TESTS (tests/<name>.cpp) is one test
# executable, and a *_netns_test runs in a private network namespace.
function(tarvane_library name)
    cmake_parse_arguments(L "" "" "SOURCES;TESTS;LIBS;TEST_LIBS" ${ARGN})
    add_library(${name} STATIC ${L_SOURCES})
    tarvane_target(${name})
    target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/..)
    target_link_libraries(${name} PUBLIC ${L_LIBS})
    if(TARVANE_BUILD_TESTS)
        foreach(_n ${L_TESTS})
            if(_n MATCHES "_netns_test$")
                set(_netns NETNS)
            else()
                set(_netns "")
            endif()
            tarvane_test(${name}_${_n} ${_netns} SOURCES tests/${_n}.cpp
                         LIBS ${name} ${L_TEST_LIBS})
        endforeach()
    endif()
endfunction()
