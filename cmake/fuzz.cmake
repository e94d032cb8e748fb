# Fuzz targets: every parser of data from outside has one under tests/fuzz.
#
# Each target is one source file defining
#   extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
# with its seed inputs in tests/fuzz/corpus/<name>/ and the inputs of faults it found in
# tests/fuzz/reproducers/<name>/. Two builds use it:
# - the normal test build links the body to a replay driver and registers "fuzz.<name>" with
#   CTest, which runs every stored seed and reproducer (no clang needed);
# - VODUZAZI_FUZZ=ON (clang only, see scripts/fuzz) links it to libFuzzer as
#   <build>/fuzzers/<name>.

option(VODUZAZI_FUZZ "Build the libFuzzer targets of tests/fuzz (clang only)" OFF)
if(VODUZAZI_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "VODUZAZI_FUZZ needs clang (libFuzzer); configure with CXX=clang++")
  endif()
  # Coverage feedback for every library the targets link; the targets add the fuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

set(VODUZAZI_FUZZ_DIR ${PROJECT_SOURCE_DIR}/tests/fuzz)

# voduzazi_fuzz_target(NAME <name> [SOURCES <files>...] LIBS <libraries>...)
# SOURCES default to <name>_fuzz.cpp beside the calling CMakeLists.txt.
function(voduzazi_fuzz_target)
  cmake_parse_arguments(ARG "" "NAME" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_NAME)
    message(FATAL_ERROR "voduzazi_fuzz_target: NAME is required")
  endif()
  if(NOT ARG_SOURCES)
    set(ARG_SOURCES ${ARG_NAME}_fuzz.cpp)
  endif()
  set(corpus ${VODUZAZI_FUZZ_DIR}/corpus/${ARG_NAME})
  if(NOT IS_DIRECTORY ${corpus})
    message(FATAL_ERROR "fuzz target ${ARG_NAME} has no seed corpus in ${corpus}")
  endif()

  if(VODUZAZI_FUZZ)
    set(target fuzz_${ARG_NAME})
    add_executable(${target} ${ARG_SOURCES})
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${ARG_NAME}
                          RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzzers)
  elseif(VODUZAZI_BUILD_TESTS)
    set(target fuzz_${ARG_NAME}_replay)
    add_executable(${target} ${ARG_SOURCES} ${VODUZAZI_FUZZ_DIR}/replay_main.cpp)
    add_test(NAME fuzz.${ARG_NAME}
             COMMAND ${target} ${corpus} ${VODUZAZI_FUZZ_DIR}/reproducers/${ARG_NAME})
    set_tests_properties(fuzz.${ARG_NAME} PROPERTIES TIMEOUT 300)
  else()
    return()
  endif()
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_options(${target} PRIVATE ${VODUZAZI_WARNINGS})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} Threads::Threads)
endfunction()
