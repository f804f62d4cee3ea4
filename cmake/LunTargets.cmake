# Helpers that give every target of the project the same flags.

# The project's own code is built with warnings as errors; third-party headers
# are included as system headers and do not take part.
function(lun_target_options target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Werror)
  # GCC 12 reports std::string concatenation at -O3 as overlapping memcpy
  # (-Wrestrict, GCC bug 105329): a false alarm that would fail release builds.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -Wno-restrict)
    # At -O3 GCC 12's flow analysis also reports impossible out-of-bounds
    # accesses in vector code (GCC bugs 105651, 106297). Optimised builds keep
    # them as warnings; the sanitizer build, which tests run, checks the real
    # accesses.
    if(CMAKE_BUILD_TYPE STREQUAL "Release")
      target_compile_options(${target} PRIVATE -Wno-error=array-bounds
        -Wno-error=stringop-overflow -Wno-error=stringop-overread)
    endif()
  endif()
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  if(LUN_TEST_HOOKS)
    target_compile_definitions(${target} PUBLIC LUN_TEST_HOOKS=1)
  endif()
endfunction()

# lun_library(name SOURCES ... LIBS ...): a static library of one subsystem.
function(lun_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  lun_target_options(${name})
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
endfunction()

# lun_test(name SOURCES ... LIBS ...): one GoogleTest executable whose cases
# CTest runs one by one.
function(lun_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  lun_target_options(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  # GoogleTest's EXPECT macros expand to if/else: "if (x) EXPECT_..." is fine.
  target_compile_options(${name} PRIVATE -Wno-dangling-else)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
endfunction()

# lun_executable(name SOURCES ... LIBS ...)
function(lun_executable name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  lun_target_options(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
endfunction()

# lun_program(name SOURCES ... LIBS ...): one of the programs a user runs
# (lun, luncrawl, lundb). They are built into one directory, bin/, because
# lun finds luncrawl and the page archives beside its own executable.
function(lun_program name)
  lun_executable(${name} ${ARGN})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
endfunction()
