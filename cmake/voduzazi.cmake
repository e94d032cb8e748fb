# Helpers shared by every folder's CMakeLists.txt.

set(VODUZAZI_WARNINGS -Wall -Wextra -Wpedantic)
# g++ 12 at -O2 reports impossible overlaps inside std::string concatenation (its own header's
# memcpy); later releases no longer do. Everything else stays on.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  list(APPEND VODUZAZI_WARNINGS -Wno-restrict)
endif()

# Precompiled headers for the test executables, whose files are the heaviest to compile: the
# common standard headers, Boost.JSON, Boost.URL and GoogleTest, parsed once per target instead
# of once per file. Library files read less of these, so there loading the precompiled file
# (about a second, and 100-200 MB on disk per target) would cost what it saves. A compiler
# launcher (ccache) and a precompiled header do not mix well: the header's build differs per
# build folder, so ccache would miss on every file of the target; with a launcher they stay off.
if(CMAKE_CXX_COMPILER_LAUNCHER)
  set(voduzazi_precompile_default OFF)
else()
  set(voduzazi_precompile_default ON)
endif()
option(VODUZAZI_PRECOMPILE_HEADERS "Precompile the heaviest common headers of test targets"
       ${voduzazi_precompile_default})
set(VODUZAZI_PRECOMPILED_HEADERS
  <algorithm> <array> <atomic> <chrono> <condition_variable> <cstdint> <exception>
  <filesystem> <functional> <map> <memory> <mutex> <optional> <stdexcept> <string>
  <string_view> <thread> <utility> <variant> <vector>
  <boost/json.hpp> <boost/url.hpp>)
set(VODUZAZI_PRECOMPILED_TEST_HEADERS <gmock/gmock.h> <gtest/gtest.h>)
# Building the header costs about what parsing it in four files does, so small targets skip it.
set(VODUZAZI_PRECOMPILE_MIN_SOURCES 6)

# voduzazi_precompile(<target> <sources> [<extra headers>...])
function(voduzazi_precompile target sources)
  list(LENGTH sources count)
  if(VODUZAZI_PRECOMPILE_HEADERS AND count GREATER_EQUAL VODUZAZI_PRECOMPILE_MIN_SOURCES)
    target_precompile_headers(${target} PRIVATE ${VODUZAZI_PRECOMPILED_HEADERS} ${ARGN})
  endif()
endfunction()

# voduzazi_library(<folder> SOURCES ... [DEPS ...])
# Declares the static library voduzazi_<folder>; includes read "voduzazi/<folder>/x.hpp".
function(voduzazi_library folder)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(voduzazi_${folder} STATIC ${ARG_SOURCES})
  target_include_directories(voduzazi_${folder} PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
                                                      $<INSTALL_INTERFACE:include>)
  target_compile_options(voduzazi_${folder} PRIVATE ${VODUZAZI_WARNINGS})
  target_link_libraries(voduzazi_${folder} PUBLIC ${ARG_DEPS} Threads::Threads)
endfunction()

# voduzazi_test(<name> SOURCES ... [DEPS ...] [NO_MAIN] [NO_TEST_SUPPORT])
# A GoogleTest executable registered with CTest. Sources are paths relative to the caller.
# It links the test-support object (issues become test failures) unless NO_TEST_SUPPORT is given.
function(voduzazi_test name)
  if(NOT VODUZAZI_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "NO_MAIN;NO_TEST_SUPPORT" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${VODUZAZI_WARNINGS})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gmock Threads::Threads)
  if(NOT ARG_NO_TEST_SUPPORT)
    target_link_libraries(${name} PRIVATE voduzazi_test_support)
  endif()
  if(NOT ARG_NO_MAIN)
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  voduzazi_precompile(${name} "${ARG_SOURCES}" ${VODUZAZI_PRECOMPILED_TEST_HEADERS})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()
