# One static library per subsystem, and one test program per subsystem.

# Sources of a folder for this platform: *_win.cpp only on Windows, *_posix.cpp only elsewhere.
function(velkaphon_platform_sources out_var directory)
    file(GLOB sources CONFIGURE_DEPENDS "${directory}/*.cpp")
    if(WIN32)
        list(FILTER sources EXCLUDE REGEX "_posix\\.cpp$")
    else()
        list(FILTER sources EXCLUDE REGEX "_win\\.cpp$")
    endif()
    set(${out_var} ${sources} PARENT_SCOPE)
endfunction()

function(velkaphon_add_library name)
    cmake_parse_arguments(ARG "" "" "LIBRARIES" ${ARGN})
    velkaphon_platform_sources(sources "${CMAKE_CURRENT_SOURCE_DIR}")
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}")
    target_link_libraries(${name} PUBLIC ${ARG_LIBRARIES})
endfunction()

# Under Wine each process start costs about half a second, so every program is one ctest entry,
# and it writes its own results for scripts/test to count.
function(velkaphon_add_test_program name)
    cmake_parse_arguments(ARG "" "" "LIBRARIES" ${ARGN})
    velkaphon_platform_sources(sources "${CMAKE_CURRENT_SOURCE_DIR}")
    add_executable(${name} ${sources})
    target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gmock GTest::gtest_main)
    target_include_directories(${name} PRIVATE "${PROJECT_SOURCE_DIR}")

    set(results "${CMAKE_BINARY_DIR}/test-results/${name}.xml")
    if(CMAKE_CROSSCOMPILING)
        # Wine shows the Linux root as drive Z:.
        set(results "Z:${results}")
    endif()
    if(VELKAPHON_THREAD_TESTS_ONLY)
        add_test(NAME ${name} COMMAND ${name} --gtest_filter=*Threads* "--gtest_output=xml:${results}")
        set_tests_properties(${name} PROPERTIES LABELS threads)
    else()
        add_test(NAME ${name} COMMAND ${name} "--gtest_output=xml:${results}")
    endif()
    set_tests_properties(${name} PROPERTIES WORKING_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}")
endfunction()
