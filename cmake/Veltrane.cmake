# Helpers shared by every folder's CMakeLists.txt.

function(veltrane_add_subdirectory_if_present dir)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${CMAKE_SOURCE_DIR}/${dir})
  endif()
endfunction()

# veltrane_core_library(name SOURCES ... [DEPS ...])
# A library of the Qt-free core: standard library only, warnings as errors.
function(veltrane_core_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  # Warnings are errors in the main g++ build only: the sanitizer and clang
  # fuzz builds see other (sometimes spurious) warnings and must not stop on them.
  if(NOT VELTRANE_SANITIZE AND NOT VELTRANE_FUZZ)
    # g++ 12 at -O2 reports false array-bounds and stringop faults inside
    # libstdc++'s own inlined copies; they stay warnings.
    target_compile_options(${name} PRIVATE -Werror -Wno-error=array-bounds
      -Wno-error=stringop-overflow -Wno-error=stringop-overread -Wno-error=restrict)
  endif()
endfunction()

# veltrane_test(name SOURCES ... [DEPS ...] [LABELS ...] [TIMEOUT s])
# A GoogleTest executable registered with CTest. Label "core" marks tests that
# also run in the sanitizer build; "realtime" marks tests against live peers.
function(veltrane_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_compile_definitions(${name} PRIVATE
    VELTRANE_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data"
    VELTRANE_SHARED_DIR="${CMAKE_SOURCE_DIR}/../shared")
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
  # gtest_discover_tests' PROPERTIES keeps only the first item of a list (every
  # label after the first, and TIMEOUT, were lost): set them once the
  # discovered test list ${name}_TESTS is known.
  set(props_file ${CMAKE_CURRENT_BINARY_DIR}/${name}_properties.cmake)
  file(WRITE ${props_file}
    "if(DEFINED ${name}_TESTS)\n"
    "  set_tests_properties(\${${name}_TESTS} PROPERTIES LABELS \"${ARG_LABELS}\" TIMEOUT ${ARG_TIMEOUT})\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${props_file})
endfunction()

# veltrane_fuzzer(name SOURCES ... DEPS ... CORPUS dir)
# A libFuzzer target; CTest runs it for a bounded time over its seed corpus.
set(VELTRANE_FUZZ_SECONDS 30 CACHE STRING "Seconds each fuzz target runs under CTest")
function(veltrane_fuzzer name)
  cmake_parse_arguments(ARG "" "CORPUS" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set(work ${CMAKE_CURRENT_BINARY_DIR}/${name}-corpus)
  add_test(NAME ${name}
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1
      $<TARGET_FILE:${name}> -max_total_time=${VELTRANE_FUZZ_SECONDS} -rss_limit_mb=1024
      -timeout=10 -max_len=65536 ${work} ${ARG_CORPUS})
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 600
    FIXTURES_REQUIRED ${name}-dir)
  add_test(NAME ${name}-mkdir COMMAND ${CMAKE_COMMAND} -E make_directory ${work})
  set_tests_properties(${name}-mkdir PROPERTIES FIXTURES_SETUP ${name}-dir LABELS fuzz)
endfunction()

# veltrane_fuzz_folder(area library)
# One fuzz target <area>_<stem> per fuzz_*.cpp of the calling folder, seeded
# from corpus/<stem>/; nothing when the library is not part of this build.
function(veltrane_fuzz_folder area library)
  if(NOT TARGET ${library})
    return()
  endif()
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_*.cpp)
  foreach(src IN LISTS sources)
    get_filename_component(stem ${src} NAME_WE)
    veltrane_fuzzer(${area}_${stem} SOURCES ${src} DEPS ${library}
      CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/corpus/${stem})
  endforeach()
endfunction()

# veltrane_benchmark(name SOURCES ... DEPS ...)
function(veltrane_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  find_package(benchmark REQUIRED)
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark benchmark::benchmark_main)
endfunction()
