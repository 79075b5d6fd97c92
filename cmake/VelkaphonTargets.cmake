# One static library per subsystem, and one test program per subsystem.

# Sources of folders for this platform: *_win.cpp only on Windows, *_posix.cpp only elsewhere.
function(velkaphon_platform_sources out_var)
    set(sources)
    foreach(directory ${ARGN})
        file(GLOB found CONFIGURE_DEPENDS "${directory}/*.cpp")
        list(APPEND sources ${found})
    endforeach()
    if(WIN32)
        list(FILTER sources EXCLUDE REGEX "_posix\\.cpp$")
    else()
        list(FILTER sources EXCLUDE REGEX "_win\\.cpp$")
    endif()
    set(${out_var} ${sources} PARENT_SCOPE)
endfunction()

# A subsystem's library from the .cpp files of its folder (and of FOLDERS beneath it, if given).
function(velkaphon_add_library name)
    cmake_parse_arguments(ARG "" "" "LIBRARIES;FOLDERS" ${ARGN})
    set(directories "${CMAKE_CURRENT_SOURCE_DIR}")
    foreach(folder ${ARG_FOLDERS})
        list(APPEND directories "${CMAKE_CURRENT_SOURCE_DIR}/${folder}")
    endforeach()
    velkaphon_platform_sources(sources ${directories})
    if(sources)
        add_library(${name} STATIC ${sources})
        target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}")
        target_link_libraries(${name} PUBLIC ${ARG_LIBRARIES})
    else()
        # A folder of declarations only.
        add_library(${name} INTERFACE)
        target_include_directories(${name} INTERFACE "${PROJECT_SOURCE_DIR}")
        target_link_libraries(${name} INTERFACE ${ARG_LIBRARIES})
    endif()
endfunction()

# The page files, copied afresh into the folder whenever one of them changes, so that a page
# edit alone reaches every program that serves the page.
function(velkaphon_copy_page target folder)
    file(GLOB_RECURSE page_files CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/ui/*")
    set(stamp "${CMAKE_CURRENT_BINARY_DIR}/${target}-page.stamp")
    add_custom_command(OUTPUT "${stamp}"
        COMMAND ${CMAKE_COMMAND} -E rm -rf "${folder}"
        COMMAND ${CMAKE_COMMAND} -E copy_directory "${PROJECT_SOURCE_DIR}/ui" "${folder}"
        COMMAND ${CMAKE_COMMAND} -E touch "${stamp}"
        DEPENDS ${page_files}
        VERBATIM)
    add_custom_target(${target}-page DEPENDS "${stamp}")
    add_dependencies(${target} ${target}-page)
endfunction()

# Under Wine each process start costs about half a second, so every program is one ctest entry,
# and it writes its own results for scripts/test to count.
function(velkaphon_add_test_program name)
    cmake_parse_arguments(ARG "" "" "LIBRARIES" ${ARGN})
    velkaphon_platform_sources(sources "${CMAKE_CURRENT_SOURCE_DIR}")
    add_executable(${name} ${sources})
    target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} velkaphon_test_support GTest::gmock
                                          GTest::gtest_main)
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

# A test plug-in makes itself known: its target, the macro that test programs see and the path
# (a file or a bundle folder) they load it from.
function(velkaphon_register_test_plugin target macro path)
    set_property(GLOBAL APPEND PROPERTY VELKAPHON_TEST_PLUGINS "${target}|${macro}|${path}")
endfunction()

# Builds every registered test plug-in before the program and tells the program where each lies.
function(velkaphon_use_test_plugins program)
    get_property(plugins GLOBAL PROPERTY VELKAPHON_TEST_PLUGINS)
    foreach(entry ${plugins})
        string(REPLACE "|" ";" parts "${entry}")
        list(GET parts 0 target)
        list(GET parts 1 macro)
        list(GET parts 2 path)
        if(CMAKE_CROSSCOMPILING)
            set(path "Z:${path}")
        endif()
        add_dependencies(${program} ${target})
        target_compile_definitions(${program} PRIVATE "${macro}=\"${path}\"")
    endforeach()
endfunction()
