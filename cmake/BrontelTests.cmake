# Unit tests: one GoogleTest executable per directory tests/<layer>/ that holds
# *_test.cpp files, named brontel_<layer>_tests. Shared fixtures live in
# tests/support/ and are linked into every test executable; test sources may
# include them as "support/<file>.h".

find_package(GTest REQUIRED)
include(GoogleTest)

file(GLOB BRONTEL_TEST_SOURCES CONFIGURE_DEPENDS
  "${PROJECT_SOURCE_DIR}/tests/*/*_test.cpp")
file(GLOB BRONTEL_TEST_SUPPORT_SOURCES CONFIGURE_DEPENDS
  "${PROJECT_SOURCE_DIR}/tests/support/*.cpp")
list(FILTER BRONTEL_TEST_SUPPORT_SOURCES EXCLUDE REGEX "_test\\.cpp$")
file(GLOB BRONTEL_TEST_SUPPORT_HEADERS CONFIGURE_DEPENDS
  "${PROJECT_SOURCE_DIR}/tests/support/*.h")

if(BRONTEL_TEST_SUPPORT_SOURCES)
  add_library(brontel_test_support OBJECT
    ${BRONTEL_TEST_SUPPORT_SOURCES} ${BRONTEL_TEST_SUPPORT_HEADERS})
  target_include_directories(brontel_test_support PUBLIC "${PROJECT_SOURCE_DIR}/tests")
  target_compile_definitions(brontel_test_support PUBLIC
    BRONTEL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  target_link_libraries(brontel_test_support PUBLIC brontel::brontel GTest::gmock GTest::gtest)
  brontel_project_target(brontel_test_support)
endif()

set(BRONTEL_TEST_LAYERS "")
foreach(source IN LISTS BRONTEL_TEST_SOURCES)
  get_filename_component(dir "${source}" DIRECTORY)
  get_filename_component(layer "${dir}" NAME)
  list(APPEND BRONTEL_TEST_LAYERS "${layer}")
endforeach()
list(REMOVE_DUPLICATES BRONTEL_TEST_LAYERS)

foreach(layer IN LISTS BRONTEL_TEST_LAYERS)
  set(sources ${BRONTEL_TEST_SOURCES})
  list(FILTER sources INCLUDE REGEX "/tests/${layer}/[^/]+$")
  set(target brontel_${layer}_tests)

  add_executable(${target} ${sources} ${BRONTEL_TEST_SUPPORT_HEADERS})
  target_include_directories(${target} PRIVATE "${PROJECT_SOURCE_DIR}/tests")
  target_compile_definitions(${target} PRIVATE BRONTEL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  if(TARGET brontel_test_support)
    target_link_libraries(${target} PRIVATE brontel_test_support)
  endif()
  target_link_libraries(${target} PRIVATE brontel::brontel GTest::gmock GTest::gtest_main)
  brontel_project_target(${target})

  # Test names are "<layer>.<Suite>.<Test>", so `ctest -R '^core\.'` runs one layer.
  gtest_discover_tests(${target}
    TEST_PREFIX "${layer}."
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS unit TIMEOUT 300)
endforeach()
