# What `cmake --install` puts where: the Perl modules and the shared object
# into Perl's module directories (with the auto/ layout Perl's loader
# expects), their manual pages, the headers a host program includes, a
# pkg-config file and a CMake package.  Nothing of tests/ is installed.
#
# VANTLE_PERL_INSTALLDIRS chooses Perl's vendor directories (the default)
# or its site directories.  Their paths are Perl's own with Perl's prefix
# replaced by CMAKE_INSTALL_PREFIX, as ExtUtils::MakeMaker's PREFIX does;
# when no prefix is given, the prefix is Perl's own for the chosen kind, so
# the files land exactly where `perl -V:installvendorlib` and friends say.

include(CMakePackageConfigHelpers)

set(VANTLE_PERL_INSTALLDIRS vendor CACHE STRING
  "Perl's module directories to install into: vendor or site")
set_property(CACHE VANTLE_PERL_INSTALLDIRS PROPERTY STRINGS vendor site)
if(NOT VANTLE_PERL_INSTALLDIRS MATCHES "^(vendor|site)$")
  message(FATAL_ERROR "VANTLE_PERL_INSTALLDIRS is vendor or site, not '${VANTLE_PERL_INSTALLDIRS}'")
endif()

# vantle_perl_config(<out> <key>)
#   Sets <out> to Perl's %Config value of <key>.
function(vantle_perl_config out key)
  execute_process(COMMAND ${PERL_EXECUTABLE} -MConfig -e "print \$Config{${key}}"
    OUTPUT_VARIABLE value OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "perl cannot tell its configuration value ${key}")
  endif()
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

vantle_perl_config(perl_prefix ${VANTLE_PERL_INSTALLDIRS}prefixexp)
vantle_perl_config(perl_libdir install${VANTLE_PERL_INSTALLDIRS}lib)
vantle_perl_config(perl_archdir install${VANTLE_PERL_INSTALLDIRS}arch)
vantle_perl_config(perl_man3dir install${VANTLE_PERL_INSTALLDIRS}man3dir)
vantle_perl_config(perl_man3ext man3ext)
vantle_perl_config(perl_archname archname)
if(perl_prefix STREQUAL "" OR perl_libdir STREQUAL "" OR perl_archdir STREQUAL "")
  message(FATAL_ERROR "${PERL_EXECUTABLE} has no ${VANTLE_PERL_INSTALLDIRS} module directories;"
    " configure with -DVANTLE_PERL_INSTALLDIRS=site or vendor")
endif()

# Without a prefix of the user's, the prefix is Perl's for the chosen kind
# (and follows a change of the kind, as long as the user gave none).
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT
    OR (DEFINED VANTLE_PREFIX_FROM_PERL AND CMAKE_INSTALL_PREFIX STREQUAL VANTLE_PREFIX_FROM_PERL))
  set(CMAKE_INSTALL_PREFIX "${perl_prefix}" CACHE PATH
    "Install prefix (Perl's prefix of its chosen module directories unless given)" FORCE)
  set(VANTLE_PREFIX_FROM_PERL "${perl_prefix}" CACHE INTERNAL "prefix taken from Perl")
endif()

# vantle_perl_relative(<out> <path> <fallback>)
#   Sets <out> to <path> relative to Perl's prefix, or to <fallback> when
#   <path> does not lie under it.
function(vantle_perl_relative out path fallback)
  cmake_path(IS_PREFIX perl_prefix "${path}" NORMALIZE under)
  if(under AND NOT path STREQUAL perl_prefix)
    cmake_path(RELATIVE_PATH path BASE_DIRECTORY "${perl_prefix}" OUTPUT_VARIABLE relative)
  else()
    message(STATUS "Vantle: ${path} is not under ${perl_prefix}; installing into <prefix>/${fallback}")
    set(relative "${fallback}")
  endif()
  set(${out} "${relative}" PARENT_SCOPE)
endfunction()

# Destinations, relative to the install prefix so that
# `cmake --install --prefix` moves them all.
vantle_perl_relative(VANTLE_INSTALL_PERL_LIBDIR "${perl_libdir}" lib/perl5)
vantle_perl_relative(VANTLE_INSTALL_PERL_ARCHDIR "${perl_archdir}" lib/perl5/${perl_archname})
vantle_perl_relative(VANTLE_INSTALL_MAN3DIR "${perl_man3dir}" share/man/man3)
set(VANTLE_INSTALL_LIBRARYDIR ${VANTLE_INSTALL_PERL_ARCHDIR}/auto/Vantle)
set(VANTLE_INSTALL_INCLUDEDIR include CACHE STRING "Headers go to <prefix>/<this>/vantle")
set(VANTLE_INSTALL_CMAKEDIR lib/cmake/Vantle CACHE STRING "Where the CMake package goes, under the prefix")
set(VANTLE_INSTALL_PKGCONFIGDIR lib/pkgconfig CACHE STRING "Where vantle.pc goes, under the prefix")

# An interpreter object of the library's own puts the directory of
# Vantle.pm on @INC; installed, that is this path from the library's
# arch directory.
cmake_path(RELATIVE_PATH VANTLE_INSTALL_PERL_LIBDIR BASE_DIRECTORY "${VANTLE_INSTALL_PERL_ARCHDIR}"
  OUTPUT_VARIABLE VANTLE_ARCH_TO_LIB)
target_compile_definitions(bq_embed PRIVATE VANTLE_PERL_ARCH_TO_LIB="${VANTLE_ARCH_TO_LIB}")

# --- The Perl module -------------------------------------------------------

install(TARGETS vantle LIBRARY DESTINATION ${VANTLE_INSTALL_LIBRARYDIR})
foreach(pm ${PERL_MODULES})
  get_filename_component(pm_dir ${pm} DIRECTORY)
  install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/lib/${pm}
    DESTINATION ${VANTLE_INSTALL_PERL_LIBDIR}/${pm_dir})
endforeach()

# Manual pages as MakeMaker makes them: Vantle::TypedStream.3pm ...  (made
# without the colons, which make cannot have in a file name).
find_program(POD2MAN_EXECUTABLE pod2man)
if(POD2MAN_EXECUTABLE)
  set(man_pages)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/man3)
  foreach(pm ${PERL_MODULES})
    string(REGEX REPLACE "\\.pm$" "" package ${pm})
    string(REPLACE "/" "::" package ${package})
    string(REPLACE "::" "." page_name ${package})
    set(page ${CMAKE_BINARY_DIR}/man3/${page_name}.${perl_man3ext})
    add_custom_command(OUTPUT ${page}
      COMMAND ${POD2MAN_EXECUTABLE} --section=${perl_man3ext} --name=${package}
        ${CMAKE_CURRENT_SOURCE_DIR}/lib/${pm} ${page}
      DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/lib/${pm})
    list(APPEND man_pages ${page})
    install(FILES ${page} DESTINATION ${VANTLE_INSTALL_MAN3DIR} RENAME ${package}.${perl_man3ext})
  endforeach()
  add_custom_target(vantle_man_pages ALL DEPENDS ${man_pages})
endif()

# --- Headers -----------------------------------------------------------------

# vantle_header_closure(<out> <header>...)
#   Sets <out> to the given headers and every header of src/ they include,
#   directly or not, with "..." or <...>.  Editing an include of one of
#   them reconfigures.
function(vantle_header_closure out)
  set(closure ${ARGN})
  set(pending ${ARGN})
  while(pending)
    list(POP_FRONT pending header)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${header})
    file(STRINGS ${header} lines REGEX "^[ \t]*#[ \t]*(include|import)[ \t]*[<\"]")
    foreach(line ${lines})
      if(NOT line MATCHES "[<\"]([^>\"]+)[>\"]")
        continue()
      endif()
      set(name ${CMAKE_MATCH_1})
      foreach(layer ${BQ_LAYERS})
        set(candidate ${CMAKE_CURRENT_SOURCE_DIR}/src/${layer}/${name})
        if(EXISTS ${candidate} AND NOT candidate IN_LIST closure)
          list(APPEND closure ${candidate})
          list(APPEND pending ${candidate})
        endif()
      endforeach()
    endforeach()
  endwhile()
  set(${out} ${closure} PARENT_SCOPE)
endfunction()

# The public headers are those of the embedding side but its private ones,
# with what they need from the layers below.
file(GLOB embed_headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/embed/*.h)
list(FILTER embed_headers EXCLUDE REGEX "Priv\\.h$")
vantle_header_closure(VANTLE_PUBLIC_HEADERS ${embed_headers})
install(FILES ${VANTLE_PUBLIC_HEADERS} DESTINATION ${VANTLE_INSTALL_INCLUDEDIR}/vantle)

# --- What a host program compiles and links with ----------------------------

# The host's compile flags: GCC's runtime on clang, GNUstep's and Perl's
# definitions and header directories (as the toolchain target has them).
set(VANTLE_HOST_OBJC_OPTIONS -fobjc-runtime=gcc -fconstant-string-class=NSConstantString -fobjc-exceptions)
set(VANTLE_HOST_OPTIONS -fexceptions -fno-strict-aliasing -pthread ${PERL_DEFINES}
  -DGNUSTEP -DGNUSTEP_BASE_LIBRARY=1 -DGNU_RUNTIME=1 -D_NATIVE_OBJC_EXCEPTIONS)
set(VANTLE_HOST_SYSTEM_INCLUDE_DIRS ${GNUSTEP_INCLUDE_DIRS} ${PERL_CORE_DIR})
set(VANTLE_HOST_RUNTIME_INCLUDE_DIR ${GCC_INCLUDE_DIR})
# Its link flags: GNUstep-base and Perl's embedding flags, without library
# directories that do not exist here.
set(VANTLE_HOST_LIBS)
foreach(flag ${GNUSTEP_BASE_LIBS} ${PERL_LDOPTS})
  if(flag MATCHES "^-L(.+)$" AND NOT IS_DIRECTORY "${CMAKE_MATCH_1}")
    continue()
  endif()
  list(APPEND VANTLE_HOST_LIBS ${flag})
endforeach()

# pkg-config: the prefix is the one given at install time, so the file is
# finished by the install step itself.
list(JOIN VANTLE_HOST_OBJC_OPTIONS " " VANTLE_PC_OBJC_FLAGS)
list(JOIN VANTLE_HOST_OPTIONS " " VANTLE_PC_FLAGS)
list(TRANSFORM VANTLE_HOST_SYSTEM_INCLUDE_DIRS PREPEND "-isystem " OUTPUT_VARIABLE pc_includes)
list(JOIN pc_includes " " VANTLE_PC_INCLUDES)
string(APPEND VANTLE_PC_INCLUDES " -idirafter ${VANTLE_HOST_RUNTIME_INCLUDE_DIR}")
list(JOIN VANTLE_HOST_LIBS " " VANTLE_PC_LIBS)
set(VANTLE_PC_INSTALL_PREFIX "@CMAKE_INSTALL_PREFIX@")
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/cmake/vantle.pc.in
  ${CMAKE_BINARY_DIR}/install/vantle.pc.in @ONLY)
install(CODE "configure_file(\"${CMAKE_BINARY_DIR}/install/vantle.pc.in\"
  \"${CMAKE_BINARY_DIR}/install/vantle.pc\" @ONLY)")
install(FILES ${CMAKE_BINARY_DIR}/install/vantle.pc DESTINATION ${VANTLE_INSTALL_PKGCONFIGDIR})

# The CMake package: Vantle::vantle, found relative to where the package
# itself lies.
configure_package_config_file(${CMAKE_CURRENT_SOURCE_DIR}/cmake/VantleConfig.cmake.in
  ${CMAKE_BINARY_DIR}/install/VantleConfig.cmake
  INSTALL_DESTINATION ${VANTLE_INSTALL_CMAKEDIR}
  PATH_VARS VANTLE_INSTALL_INCLUDEDIR VANTLE_INSTALL_LIBRARYDIR
    VANTLE_INSTALL_PERL_LIBDIR VANTLE_INSTALL_PERL_ARCHDIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/install/VantleConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/install/VantleConfig.cmake
  ${CMAKE_BINARY_DIR}/install/VantleConfigVersion.cmake
  DESTINATION ${VANTLE_INSTALL_CMAKEDIR})

# --- The test of all this --------------------------------------------------

# tests/install/install.t installs this build into a temporary directory
# and uses it from perl and from host programs built with pkg-config and
# with find_package.  A sanitizer build's library needs the sanitizer
# runtime in every program that loads it, which those hosts do not have.
if(NOT BQ_SANITIZE)
  find_program(PKG_CONFIG_EXECUTABLE NAMES pkg-config pkgconf)
  if(NOT PKG_CONFIG_EXECUTABLE)
    set(PKG_CONFIG_EXECUTABLE pkg-config)
  endif()
  add_test(NAME install/tree
    COMMAND ${PERL_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/tests/install/install.t
      ${CMAKE_BINARY_DIR} ${CMAKE_COMMAND} ${CMAKE_OBJCXX_COMPILER} ${PKG_CONFIG_EXECUTABLE}
      ${VANTLE_PERL_INSTALLDIRS})
  set_tests_properties(install/tree PROPERTIES TIMEOUT 600)
endif()
