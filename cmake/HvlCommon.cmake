# Settings shared by every target of the kit.

# The bundle of the setup library, laid out in the build tree exactly as it is
# installed, so that tests load it from here.
set(HVL_BUNDLE_NAME "Halvern Generic ODBC Driver.bundle")
set(HVL_SETUP_NAME "Halvern Generic ODBC Driver")
set(HVL_BUNDLE_REL "Library/ODBC/${HVL_BUNDLE_NAME}")
set(HVL_BUNDLE_DIR "${PROJECT_BINARY_DIR}/${HVL_BUNDLE_REL}")
set(HVL_BUNDLE_CONTENTS "${HVL_BUNDLE_DIR}/Contents")
set(HVL_SETUP_PATH "${HVL_BUNDLE_CONTENTS}/MacOS/${HVL_SETUP_NAME}")
set(HVL_PLUGIN_DIR "${HVL_BUNDLE_CONTENTS}/PlugIns")
set(HVL_RESOURCES_DIR "${HVL_BUNDLE_CONTENTS}/Resources")

add_library(hvl_warnings INTERFACE)
target_compile_options(hvl_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow
                                              -Wnon-virtual-dtor -Wformat=2)
if(HVL_WERROR)
  target_compile_options(hvl_warnings INTERFACE -Werror)
endif()

if(HVL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# hvl_add_gtest(NAME SOURCES... LIBS ...): one GoogleTest program registered with CTest.
find_package(GTest QUIET)
include(GoogleTest)
function(hvl_add_gtest name)
  cmake_parse_arguments(arg "" "" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main GTest::gmock ${arg_LIBS}
                                        hvl_warnings)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ENVIRONMENT "${arg_ENV}")
endfunction()
