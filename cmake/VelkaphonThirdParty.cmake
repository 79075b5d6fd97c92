# Third-party code from Debian's packages, built or included without our warning flags.

# The Windows build must not see the whole of /usr/include, so both builds take the JSON
# library through a folder that holds only its headers.
set(VELKAPHON_JSON_INCLUDE "${CMAKE_BINARY_DIR}/third-party-include")
file(MAKE_DIRECTORY "${VELKAPHON_JSON_INCLUDE}")
if(NOT EXISTS "${VELKAPHON_JSON_INCLUDE}/nlohmann")
    file(CREATE_LINK /usr/include/nlohmann "${VELKAPHON_JSON_INCLUDE}/nlohmann" SYMBOLIC)
endif()
add_library(velkaphon_json INTERFACE)
target_include_directories(velkaphon_json SYSTEM INTERFACE "${VELKAPHON_JSON_INCLUDE}")

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
