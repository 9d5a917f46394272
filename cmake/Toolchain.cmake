# Compiler and library settings shared by every target: clang++ in
# Objective-C++ mode on GCC's runtime, GNUstep-base, libffi, Tcl and Perl.

find_program(GNUSTEP_CONFIG gnustep-config REQUIRED)
find_program(PERL_EXECUTABLE perl REQUIRED)

# GCC's runtime headers (objc/runtime.h ...) come after clang's own headers,
# so clang's stddef.h and friends keep precedence.
file(GLOB GCC_OBJC_HEADERS /usr/lib/gcc/*/*/include/objc/runtime.h)
if(NOT GCC_OBJC_HEADERS)
  message(FATAL_ERROR "GCC's Objective-C runtime headers not found (install libobjc-12-dev)")
endif()
list(SORT GCC_OBJC_HEADERS)
list(GET GCC_OBJC_HEADERS -1 GCC_OBJC_RUNTIME_H)
get_filename_component(GCC_INCLUDE_DIR ${GCC_OBJC_RUNTIME_H} DIRECTORY)
get_filename_component(GCC_INCLUDE_DIR ${GCC_INCLUDE_DIR} DIRECTORY)

# GNUstep's header directories, taken from gnustep-config, as system
# includes so their warnings do not mix with ours.
execute_process(COMMAND ${GNUSTEP_CONFIG} --objc-flags
  OUTPUT_VARIABLE GNUSTEP_OBJC_FLAGS OUTPUT_STRIP_TRAILING_WHITESPACE)
separate_arguments(GNUSTEP_OBJC_FLAGS UNIX_COMMAND "${GNUSTEP_OBJC_FLAGS}")
set(GNUSTEP_INCLUDE_DIRS)
foreach(flag ${GNUSTEP_OBJC_FLAGS})
  if(flag MATCHES "^-I(.+)$")
    set(dir ${CMAKE_MATCH_1})
    if(IS_ABSOLUTE "${dir}" AND EXISTS "${dir}")
      list(APPEND GNUSTEP_INCLUDE_DIRS ${dir})
    endif()
  endif()
endforeach()

execute_process(COMMAND ${GNUSTEP_CONFIG} --base-libs
  OUTPUT_VARIABLE GNUSTEP_BASE_LIBS OUTPUT_STRIP_TRAILING_WHITESPACE)
separate_arguments(GNUSTEP_BASE_LIBS UNIX_COMMAND "${GNUSTEP_BASE_LIBS}")

# Perl: the compile flags must be the ones perl itself was built with, since
# they fix the layout of the interpreter structure.
execute_process(COMMAND ${PERL_EXECUTABLE} -MExtUtils::Embed -e ccopts
  OUTPUT_VARIABLE PERL_CCOPTS OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${PERL_EXECUTABLE} -MExtUtils::Embed -e ldopts
  OUTPUT_VARIABLE PERL_LDOPTS OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${PERL_EXECUTABLE} -MConfig -e "print \$Config{archlibexp}"
  OUTPUT_VARIABLE PERL_CORE_DIR OUTPUT_STRIP_TRAILING_WHITESPACE)
set(PERL_CORE_DIR ${PERL_CORE_DIR}/CORE)
separate_arguments(PERL_CCOPTS UNIX_COMMAND "${PERL_CCOPTS}")
separate_arguments(PERL_LDOPTS UNIX_COMMAND "${PERL_LDOPTS}")
set(PERL_DEFINES)
foreach(flag ${PERL_CCOPTS})
  if(flag MATCHES "^-D")
    list(APPEND PERL_DEFINES ${flag})
  endif()
endforeach()

find_path(TCL_INCLUDE_DIR tcl.h PATHS /usr/include/tcl8.6 REQUIRED)
find_library(TCL_LIBRARY NAMES tcl8.6 tcl REQUIRED)
find_library(FFI_LIBRARY ffi REQUIRED)

add_library(bq_toolchain INTERFACE)
target_compile_options(bq_toolchain INTERFACE
  $<$<COMPILE_LANGUAGE:OBJCXX>:-fobjc-runtime=gcc -fconstant-string-class=NSConstantString -fobjc-exceptions>
  -fexceptions -fno-strict-aliasing -pthread
  # valgrind 3.19 cannot read clang 14's default DWARF 5
  -gdwarf-4
  ${PERL_DEFINES}
  -DGNUSTEP -DGNUSTEP_BASE_LIBRARY=1 -DGNU_RUNTIME=1 -D_NATIVE_OBJC_EXCEPTIONS
  -idirafter ${GCC_INCLUDE_DIR})
target_include_directories(bq_toolchain SYSTEM INTERFACE
  ${GNUSTEP_INCLUDE_DIRS} ${PERL_CORE_DIR} ${TCL_INCLUDE_DIR})
target_link_libraries(bq_toolchain INTERFACE
  ${GNUSTEP_BASE_LIBS} ${FFI_LIBRARY} ${TCL_LIBRARY} stdc++)

# Perl's library, for programs that embed an interpreter.  The module
# itself does not link it: /usr/bin/perl carries the interpreter and
# exports its symbols, and linking libperl.so into the module would map a
# second, unused copy of Perl into every perl that loads it.
add_library(bq_perl_embed INTERFACE)
target_link_libraries(bq_perl_embed INTERFACE ${PERL_LDOPTS})

# Our own code builds without warnings.
set(BQ_WARNINGS -Wall -Wextra)

# CMake 3.25 leaves the soname and run-path flags of Objective-C++ links
# unset on Linux; take the C++ ones, which are the same linker's.
set(CMAKE_SHARED_LIBRARY_SONAME_OBJCXX_FLAG "${CMAKE_SHARED_LIBRARY_SONAME_CXX_FLAG}")
set(CMAKE_SHARED_LIBRARY_RUNTIME_OBJCXX_FLAG "${CMAKE_SHARED_LIBRARY_RUNTIME_CXX_FLAG}")
set(CMAKE_SHARED_LIBRARY_RUNTIME_OBJCXX_FLAG_SEP "${CMAKE_SHARED_LIBRARY_RUNTIME_CXX_FLAG_SEP}")
set(CMAKE_EXECUTABLE_RUNTIME_OBJCXX_FLAG "${CMAKE_EXECUTABLE_RUNTIME_CXX_FLAG}")
set(CMAKE_EXECUTABLE_RUNTIME_OBJCXX_FLAG_SEP "${CMAKE_EXECUTABLE_RUNTIME_CXX_FLAG_SEP}")
set(CMAKE_SHARED_LIBRARY_RPATH_LINK_OBJCXX_FLAG "${CMAKE_SHARED_LIBRARY_RPATH_LINK_CXX_FLAG}")
