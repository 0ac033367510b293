# Benchmarks: every bench/X.cpp becomes <build>/bin/X_bench (X itself when it
# already ends in _bench), linked with Google Benchmark's main, except:
#   bench/data_generator.cpp, bench/bench_support.cpp  the library
#       brontel_bench_support that every benchmark links (the seeded data
#       generator, scratch directories, the durable-write floor, a
#       brontel-server on loopback);
#   bench/generate_data.cpp  the program generate_data (data files, the peak
#       memory of a synchronization in a process of its own).
# expat and pugixml are optional and only for benchmarks: the XML parser
# benchmark compares the library's parser with them when they are installed.

file(GLOB BRONTEL_BENCH_SOURCES CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/bench/*.cpp")
if(NOT BRONTEL_BENCH_SOURCES)
  return()
endif()

find_package(benchmark REQUIRED)

set(BRONTEL_BENCH_SUPPORT_SOURCES
  "${PROJECT_SOURCE_DIR}/bench/data_generator.cpp"
  "${PROJECT_SOURCE_DIR}/bench/bench_support.cpp"
  # Starts and stops brontel-server, as the demo does.
  "${PROJECT_SOURCE_DIR}/tools/brontel/server_process.cpp")
set(BRONTEL_BENCH_PROGRAMS "${PROJECT_SOURCE_DIR}/bench/generate_data.cpp")

add_library(brontel_bench_support STATIC ${BRONTEL_BENCH_SUPPORT_SOURCES})
target_include_directories(brontel_bench_support PUBLIC
  "${PROJECT_SOURCE_DIR}/bench" "${PROJECT_SOURCE_DIR}/tools/brontel")
target_link_libraries(brontel_bench_support PUBLIC brontel::brontel)
brontel_project_target(brontel_bench_support)

find_package(EXPAT QUIET)
find_package(pugixml CONFIG QUIET)

foreach(source IN LISTS BRONTEL_BENCH_SOURCES)
  if(source IN_LIST BRONTEL_BENCH_SUPPORT_SOURCES)
    continue()
  endif()
  get_filename_component(name "${source}" NAME_WE)
  if(source IN_LIST BRONTEL_BENCH_PROGRAMS)
    add_executable(${name} "${source}")
    target_link_libraries(${name} PRIVATE brontel_bench_support)
    brontel_project_target(${name})
    continue()
  endif()
  if(NOT name MATCHES "_bench$")
    set(name "${name}_bench")
  endif()
  add_executable(${name} "${source}")
  target_link_libraries(${name} PRIVATE brontel_bench_support benchmark::benchmark_main)
  brontel_project_target(${name})
  # Server benchmarks start the reference server from beside themselves (the
  # server's target is defined after this file is read).
  if(EXISTS "${PROJECT_SOURCE_DIR}/server/main.cpp")
    add_dependencies(${name} brontel-server)
  endif()
endforeach()

if(TARGET xml_parse_bench)
  if(TARGET EXPAT::EXPAT)
    target_link_libraries(xml_parse_bench PRIVATE EXPAT::EXPAT)
    target_compile_definitions(xml_parse_bench PRIVATE BRONTEL_BENCH_EXPAT=1)
  endif()
  if(TARGET pugixml::pugixml)
    target_link_libraries(xml_parse_bench PRIVATE pugixml::pugixml)
    target_compile_definitions(xml_parse_bench PRIVATE BRONTEL_BENCH_PUGIXML=1)
  elseif(TARGET pugixml)
    target_link_libraries(xml_parse_bench PRIVATE pugixml)
    target_compile_definitions(xml_parse_bench PRIVATE BRONTEL_BENCH_PUGIXML=1)
  endif()
endif()

# generate_data writes copies in the JSON layout of the brontel tool (with the
# tool's own writer), so that run_all.sh can time the tool as a whole process.
if(TARGET generate_data AND TARGET nlohmann_json::nlohmann_json)
  target_sources(generate_data PRIVATE
    "${PROJECT_SOURCE_DIR}/tools/brontel/copy_json.cpp"
    "${PROJECT_SOURCE_DIR}/tools/brontel/json_fields.cpp")
  target_link_libraries(generate_data PRIVATE nlohmann_json::nlohmann_json)
  target_compile_definitions(generate_data PRIVATE BRONTEL_BENCH_TOOL_JSON=1)
endif()
