# Fuzz targets: fuzz/X_fuzz.cpp defines LLVMFuzzerTestOneInput.
#
# Every build makes X_fuzz_replay (the target plus fuzz/replay_main.cpp), and
# registers the CTest test X_fuzz_replay when fuzz/corpus/X/ exists: it feeds
# the seed corpus and a fixed number of deterministic mutations of it, so the
# gcc sanitizer build exercises the fuzz targets in the normal test run.
#
# With BRONTEL_FUZZ=ON (clang) every fuzz/X_fuzz.cpp also becomes the libFuzzer
# binary X_fuzz.

file(GLOB BRONTEL_FUZZ_SOURCES CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/fuzz/*_fuzz.cpp")
# Watched so that adding a corpus directory re-runs CMake and registers its test.
file(GLOB BRONTEL_FUZZ_CORPORA LIST_DIRECTORIES true CONFIGURE_DEPENDS
  "${PROJECT_SOURCE_DIR}/fuzz/corpus/*")

if(NOT BRONTEL_FUZZ_SOURCES)
  return()
endif()

add_library(brontel_fuzz_replay_main OBJECT "${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp")
target_compile_features(brontel_fuzz_replay_main PRIVATE cxx_std_20)
brontel_project_target(brontel_fuzz_replay_main)

foreach(source IN LISTS BRONTEL_FUZZ_SOURCES)
  get_filename_component(name "${source}" NAME_WE)

  add_executable(${name}_replay "${source}")
  target_include_directories(${name}_replay PRIVATE "${PROJECT_SOURCE_DIR}/fuzz")
  target_link_libraries(${name}_replay PRIVATE brontel_fuzz_replay_main brontel::brontel)
  brontel_project_target(${name}_replay)

  set(corpus "${PROJECT_SOURCE_DIR}/fuzz/corpus/${name}")
  if(IS_DIRECTORY "${corpus}")
    add_test(NAME ${name}_replay
      COMMAND ${name}_replay "${corpus}" ${BRONTEL_FUZZ_REPLAY_ITERATIONS})
    set_tests_properties(${name}_replay PROPERTIES LABELS "fuzz" TIMEOUT 600)
  endif()

  if(BRONTEL_FUZZ)
    add_executable(${name} "${source}")
    target_include_directories(${name} PRIVATE "${PROJECT_SOURCE_DIR}/fuzz")
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(${name} PRIVATE brontel::brontel)
    brontel_project_target(${name})
  endif()
endforeach()
