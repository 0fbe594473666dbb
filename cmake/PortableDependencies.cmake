# The dependencies of the portable build (DRIVON_PORTABLE_ONLY), which cross-compiles for
# Windows: Debian ships no Windows builds of FFmpeg or jerasure, but the two libraries this
# build needs come as sources or headers that any compiler can use.
find_package(Threads REQUIRED)

# nlohmann-json is header-only. Its own package points at /usr/include, which must not reach a
# cross compiler's search path (the host's C library headers would shadow the target's), so
# only its folder is exposed, through a link in the build tree.
find_path(DRIVON_NLOHMANN_INCLUDE_DIR nlohmann/json.hpp PATHS /usr/include NO_DEFAULT_PATH
          NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(nlohmann_only ${CMAKE_BINARY_DIR}/third_party/include)
file(MAKE_DIRECTORY ${nlohmann_only})
file(CREATE_LINK ${DRIVON_NLOHMANN_INCLUDE_DIR}/nlohmann ${nlohmann_only}/nlohmann SYMBOLIC)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${nlohmann_only})

# GoogleTest built from the sources of Debian's googletest package, with this build's compiler.
if(DRIVON_TESTS)
    set(DRIVON_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    add_subdirectory(${DRIVON_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL
                     SYSTEM)
endif()
