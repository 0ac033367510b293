# Benchmarks: every bench/X.cpp becomes <build>/bin/X_bench (X itself when it
# already ends in _bench), linked with Google Benchmark's main.

file(GLOB BRONTEL_BENCH_SOURCES CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/bench/*.cpp")
if(NOT BRONTEL_BENCH_SOURCES)
  return()
endif()

find_package(benchmark REQUIRED)

foreach(source IN LISTS BRONTEL_BENCH_SOURCES)
  get_filename_component(name "${source}" NAME_WE)
  if(NOT name MATCHES "_bench$")
    set(name "${name}_bench")
  endif()
  add_executable(${name} "${source}")
  target_include_directories(${name} PRIVATE "${PROJECT_SOURCE_DIR}/bench")
  target_link_libraries(${name} PRIVATE brontel::brontel benchmark::benchmark_main)
  brontel_project_target(${name})
endforeach()
