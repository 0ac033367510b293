# Run by the install_consumer test (cmake -P). Installs the build in BUILD_DIR
# into WORK_DIR/prefix, then builds CONSUMER_DIR against it twice: with
# find_package(Brontel) and with `pkg-config --cflags --libs brontel`. Both
# programs must run and print the same non-empty version.

foreach(var BUILD_DIR WORK_DIR CONSUMER_DIR CONFIG GENERATOR CXX_COMPILER LIBDIR VERSION)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "install_consumer: ${var} is not set")
  endif()
endforeach()

function(run what)
  execute_process(COMMAND ${ARGN}
    RESULT_VARIABLE result
    OUTPUT_VARIABLE output
    ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "install_consumer: ${what} failed (${result})\n$ ${command}\n${output}")
  endif()
  set(output "${output}" PARENT_SCOPE)
endfunction()

set(prefix "${WORK_DIR}/prefix")
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")

if(CONFIG)
  set(config_args --config "${CONFIG}")
endif()
run("install" "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}" ${config_args})
foreach(file
    "include/brontel/brontel.h"
    "${LIBDIR}/libbrontel.a"
    "${LIBDIR}/cmake/Brontel/BrontelConfig.cmake"
    "${LIBDIR}/cmake/Brontel/BrontelConfigVersion.cmake"
    "${LIBDIR}/pkgconfig/brontel.pc")
  if(NOT EXISTS "${prefix}/${file}")
    message(FATAL_ERROR "install_consumer: ${file} was not installed")
  endif()
endforeach()

# 1. find_package(Brontel) + brontel::brontel
set(build "${WORK_DIR}/cmake-build")
set(configure_args
  -S "${CONSUMER_DIR}" -B "${build}" -G "${GENERATOR}"
  "-DCMAKE_CXX_COMPILER=${CXX_COMPILER}"
  "-DCMAKE_PREFIX_PATH=${prefix}"
  "-DBRONTEL_EXPECTED_VERSION=${VERSION}"
  "-DCMAKE_FIND_PACKAGE_NO_PACKAGE_REGISTRY=ON")
if(MAKE_PROGRAM)
  list(APPEND configure_args "-DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM}")
endif()
if(CONFIG)
  list(APPEND configure_args "-DCMAKE_BUILD_TYPE=${CONFIG}")
endif()
run("consumer configure" "${CMAKE_COMMAND}" ${configure_args})
string(FIND "${output}" "Brontel_DIR=${prefix}/" found)
if(found EQUAL -1)
  message(FATAL_ERROR "install_consumer: find_package did not use ${prefix}\n${output}")
endif()
run("consumer build" "${CMAKE_COMMAND}" --build "${build}" ${config_args})
run("consumer run (find_package)" "${build}/brontel_consumer")
set(cmake_output "${output}")

# 2. pkg-config
set(ENV{PKG_CONFIG_PATH} "${prefix}/${LIBDIR}/pkgconfig")
run("pkg-config" pkg-config --cflags --libs brontel)
string(STRIP "${output}" pc_flags)
separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
run("consumer compile (pkg-config)" "${CXX_COMPILER}" -std=c++20
  "${CONSUMER_DIR}/main.cpp" ${pc_flags} -o "${WORK_DIR}/brontel_consumer_pc")
run("consumer run (pkg-config)" "${WORK_DIR}/brontel_consumer_pc")
set(pc_output "${output}")

string(STRIP "${cmake_output}" cmake_output)
string(STRIP "${pc_output}" pc_output)
if(cmake_output STREQUAL "")
  message(FATAL_ERROR "install_consumer: the consumer printed nothing")
endif()
if(NOT cmake_output STREQUAL pc_output)
  message(FATAL_ERROR "install_consumer: outputs differ:\n"
    "find_package: ${cmake_output}\npkg-config:   ${pc_output}")
endif()
message(STATUS "install_consumer: ok, consumer prints: ${cmake_output}")
file(REMOVE_RECURSE "${WORK_DIR}")
