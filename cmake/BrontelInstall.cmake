# Install rules, the CMake package (find_package(Brontel)) and pkg-config file.

include(CMakePackageConfigHelpers)

set(BRONTEL_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/Brontel" CACHE STRING
  "Where BrontelConfig.cmake is installed, relative to the prefix")

install(TARGETS brontel
  EXPORT BrontelTargets
  ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}")
install(DIRECTORY "${PROJECT_SOURCE_DIR}/include/brontel"
  DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}"
  FILES_MATCHING PATTERN "*.h")
if(TARGET brontel_cli)
  install(TARGETS brontel_cli RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
endif()

install(EXPORT BrontelTargets
  NAMESPACE brontel::
  FILE BrontelTargets.cmake
  DESTINATION "${BRONTEL_INSTALL_CMAKEDIR}")
configure_package_config_file(
  "${PROJECT_SOURCE_DIR}/cmake/BrontelConfig.cmake.in"
  "${PROJECT_BINARY_DIR}/BrontelConfig.cmake"
  INSTALL_DESTINATION "${BRONTEL_INSTALL_CMAKEDIR}")
write_basic_package_version_file(
  "${PROJECT_BINARY_DIR}/BrontelConfigVersion.cmake"
  COMPATIBILITY SameMinorVersion)
install(FILES
  "${PROJECT_BINARY_DIR}/BrontelConfig.cmake"
  "${PROJECT_BINARY_DIR}/BrontelConfigVersion.cmake"
  DESTINATION "${BRONTEL_INSTALL_CMAKEDIR}")

# brontel.pc carries the real install prefix, which is only known at install
# time (cmake --install --prefix may differ from CMAKE_INSTALL_PREFIX), so the
# template is finished by an install step right before it is copied.
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(BRONTEL_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(BRONTEL_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
set(BRONTEL_PC_PREFIX "@BRONTEL_PC_PREFIX@")  # left for the install step
configure_file("${PROJECT_SOURCE_DIR}/cmake/brontel.pc.in"
  "${PROJECT_BINARY_DIR}/pkgconfig/brontel.pc.in" @ONLY)
install(CODE "
  set(BRONTEL_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  configure_file(\"${PROJECT_BINARY_DIR}/pkgconfig/brontel.pc.in\"
    \"${PROJECT_BINARY_DIR}/pkgconfig/brontel.pc\" @ONLY)
")
install(FILES "${PROJECT_BINARY_DIR}/pkgconfig/brontel.pc"
  DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig")

# install_consumer: installs this build into a scratch prefix and builds a
# small program against it, once through find_package and once through
# pkg-config.
if(BRONTEL_BUILD_TESTS AND NOT BRONTEL_FUZZ)
  add_test(NAME install_consumer
    COMMAND "${CMAKE_COMMAND}"
      "-DBUILD_DIR=${PROJECT_BINARY_DIR}"
      "-DWORK_DIR=${PROJECT_BINARY_DIR}/install-consumer"
      "-DCONSUMER_DIR=${PROJECT_SOURCE_DIR}/cmake/consumer-test"
      "-DCONFIG=$<CONFIG>"
      "-DGENERATOR=${CMAKE_GENERATOR}"
      "-DMAKE_PROGRAM=${CMAKE_MAKE_PROGRAM}"
      "-DCXX_COMPILER=${CMAKE_CXX_COMPILER}"
      "-DLIBDIR=${CMAKE_INSTALL_LIBDIR}"
      "-DVERSION=${PROJECT_VERSION}"
      -P "${PROJECT_SOURCE_DIR}/cmake/InstallConsumerTest.cmake")
  set_tests_properties(install_consumer PROPERTIES LABELS "install" TIMEOUT 300)
endif()
