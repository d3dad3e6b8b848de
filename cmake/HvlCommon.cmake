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
target_compile_options(hvl_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wformat=2
                                              $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>)
if(HVL_WERROR)
  target_compile_options(hvl_warnings INTERFACE -Werror)
endif()

if(HVL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# hvl_add_gtest(NAME SOURCES... LIBS ... [ENV VAR=VALUE]): one GoogleTest program
# registered with CTest, each of its tests run with the variables ENV sets.
find_package(GTest QUIET)
include(GoogleTest)
function(hvl_add_gtest name)
  cmake_parse_arguments(arg "" "" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main GTest::gmock ${arg_LIBS}
                                        hvl_warnings)
  # The variables reach every test through a launcher: test properties set
  # through discovery cannot carry more than one.
  if(arg_ENV)
    set_target_properties(${name} PROPERTIES
      CROSSCOMPILING_EMULATOR "${CMAKE_COMMAND};-E;env;${arg_ENV}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
endfunction()

# Fuzz targets: clang's libFuzzer, with the sanitizers of HVL_SANITIZE. Every
# object is built with coverage so that the fuzzer sees into the libraries.
if(HVL_BUILD_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
set(HVL_FUZZ_SECONDS 60 CACHE STRING "How long each fuzz target runs as a test of the fuzz build")

# hvl_add_fuzzer(NAME SOURCES ... LIBS ... CORPUS dir): one libFuzzer program,
# registered as a CTest test labelled "fuzz" that runs it for HVL_FUZZ_SECONDS
# on a copy of the seed corpus (new inputs go to the build tree, never to the
# sources).
function(hvl_add_fuzzer name)
  cmake_parse_arguments(arg "" "CORPUS" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LIBS} hvl_warnings)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set(work "${CMAKE_CURRENT_BINARY_DIR}/${name}-corpus")
  file(MAKE_DIRECTORY "${work}")
  add_test(NAME ${name}
           COMMAND ${name} -max_total_time=${HVL_FUZZ_SECONDS} -timeout=10 -rss_limit_mb=2048
                   -print_final_stats=1 "${work}" "${arg_CORPUS}")
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 600)
  add_dependencies(hvl_fuzzers ${name})
endfunction()
if(HVL_BUILD_FUZZ)
  add_custom_target(hvl_fuzzers)
endif()
