# Build options and the compiler flags they imply.

option(BRONTEL_BUILD_TESTS "Build the unit tests and the install check" ${PROJECT_IS_TOP_LEVEL})
option(BRONTEL_BUILD_TOOLS "Build the brontel command-line tool" ON)
option(BRONTEL_WERROR "Treat compiler warnings as errors" OFF)
option(BRONTEL_SANITIZE "Build everything with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(BRONTEL_FUZZ "Build the libFuzzer targets (clang only)" OFF)
option(BRONTEL_BENCH "Build the benchmarks" OFF)
set(BRONTEL_FUZZ_REPLAY_ITERATIONS 2000 CACHE STRING
  "Mutated inputs each X_fuzz_replay test feeds after the seed corpus")

set(BRONTEL_WARNING_FLAGS -Wall -Wextra -Wshadow)

# Flags that every target is compiled and linked with when sanitizing.
set(BRONTEL_SANITIZE_FLAGS
  -fsanitize=address,undefined
  -fno-omit-frame-pointer
  -fno-sanitize-recover=undefined)
# What a program linking the sanitized archive needs.
set(BRONTEL_SANITIZE_LINK_FLAGS -fsanitize=address,undefined)

if(BRONTEL_SANITIZE)
  add_compile_options(${BRONTEL_SANITIZE_FLAGS})
  add_link_options(${BRONTEL_SANITIZE_FLAGS})
endif()

if(BRONTEL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "BRONTEL_FUZZ=ON needs clang (libFuzzer); "
      "use the 'fuzz' preset or -DCMAKE_CXX_COMPILER=clang++")
  endif()
  if(NOT BRONTEL_SANITIZE)
    message(FATAL_ERROR "BRONTEL_FUZZ=ON needs BRONTEL_SANITIZE=ON")
  endif()
  # Coverage instrumentation for everything; only the fuzzers link libFuzzer itself.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# Applies the project's warning policy to one of our own targets.
function(brontel_project_target target)
  target_compile_options(${target} PRIVATE ${BRONTEL_WARNING_FLAGS})
  if(BRONTEL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
