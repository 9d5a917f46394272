# -DBQ_SANITIZE=ON builds every target (the library, the tests, the
# examples, the benchmarks and the fuzz corpus replays) with the address
# and undefined-behaviour sanitizers, and gives every test the runtime
# options it needs.  scripts/sanitize.sh builds build-asan/ this way and
# runs the suite.
#
# After this file:
#   BQ_SANITIZE_LIBRARY_SOURCES
#                         sources the library adds in a sanitizer build.
#   BQ_SANITIZE_TEST_ENV  environment (a CMake list of NAME=value) for
#                         tests that run programs not built here, i.e.
#                         /usr/bin/perl for the Perl tests; empty when off.
option(BQ_SANITIZE "Build everything with AddressSanitizer and UBSan (needs libclang-rt-14-dev)" OFF)

set(BQ_SANITIZE_LIBRARY_SOURCES)
set(BQ_SANITIZE_TEST_ENV)
if(NOT BQ_SANITIZE)
  return()
endif()

# Any undefined behaviour stops the program, so it fails the test that
# caused it instead of printing a line nobody reads.
set(BQ_SANITIZE_FLAGS -fsanitize=address,undefined
  -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
target_compile_options(bq_toolchain INTERFACE ${BQ_SANITIZE_FLAGS})
target_link_options(bq_toolchain INTERFACE ${BQ_SANITIZE_FLAGS})

set(BQ_SANITIZE_DIR ${PROJECT_SOURCE_DIR}/sanitize)

# Runtime options, shared by the programs built here (compiled into them
# by sanitize/DefaultOptions.c, so they apply however the program is
# started, also when CTest lists the GoogleTest cases at build time) and
# by /usr/bin/perl (through the environment).
#   detect_leaks=1          leaks are failures too; the Perl tests run with
#                           PERL_DESTRUCT_LEVEL=2 so perl frees its own.
#   fast_unwind_on_malloc=0 libobjc and GNUstep are built without frame
#                           pointers; the slower unwinder walks through
#                           them, so a leak's stack shows the runtime
#                           function that sanitize/lsan.supp names.
#   strict_string_checks=1  string functions check the whole string, not
#                           only the bytes they happened to read.
# Only our code is compiled with UBSan, so it needs no suppressions.
set(BQ_ASAN_OPTIONS "detect_leaks=1:fast_unwind_on_malloc=0:strict_string_checks=1")
set(BQ_LSAN_OPTIONS "suppressions=${BQ_SANITIZE_DIR}/lsan.supp:print_suppressions=0")
set(BQ_UBSAN_OPTIONS "print_stacktrace=1:halt_on_error=1")

# The leak check runs before GNUstep's exit-time clean-up (see the file).
set(BQ_SANITIZE_LIBRARY_SOURCES ${BQ_SANITIZE_DIR}/LeakCheckBeforeExitCleanup.c)

# Every executable built here carries the options as the sanitizer
# runtimes' default-option hooks.
target_sources(bq_toolchain INTERFACE
  $<$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>:${BQ_SANITIZE_DIR}/DefaultOptions.c>)
target_compile_definitions(bq_toolchain INTERFACE
  $<$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>:BQ_ASAN_OPTIONS="${BQ_ASAN_OPTIONS}">
  $<$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>:BQ_LSAN_OPTIONS="${BQ_LSAN_OPTIONS}">
  $<$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>:BQ_UBSAN_OPTIONS="${BQ_UBSAN_OPTIONS}">)

# /usr/bin/perl is not instrumented: the module it loads needs the
# sanitizer runtime in the process before anything else, so the Perl tests
# preload the shared runtime (which holds the UBSan handlers too).
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libclang_rt.asan-${CMAKE_SYSTEM_PROCESSOR}.so
  OUTPUT_VARIABLE BQ_ASAN_RUNTIME OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT IS_ABSOLUTE "${BQ_ASAN_RUNTIME}" OR NOT EXISTS "${BQ_ASAN_RUNTIME}")
  message(FATAL_ERROR "BQ_SANITIZE: the shared AddressSanitizer runtime was not found (install libclang-rt-14-dev)")
endif()
set(BQ_SANITIZE_TEST_ENV
  LD_PRELOAD=${BQ_ASAN_RUNTIME}
  ASAN_OPTIONS=${BQ_ASAN_OPTIONS}
  LSAN_OPTIONS=${BQ_LSAN_OPTIONS}
  UBSAN_OPTIONS=${BQ_UBSAN_OPTIONS}
  PERL_DESTRUCT_LEVEL=2)
