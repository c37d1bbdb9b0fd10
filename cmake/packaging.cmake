# Debian packages, made by `cpack` in the build directory (packages/ there):
#   libicl1     libicl.so.1 and libicl_host.so.1
#   libicl-dev  the headers, the .so links, the CMake package and icl.pc
#   icl         the command-line tool, its manual page and bash completion
# laid out as Debian policy asks (see DebianStaging.cmake and
# DebianDepends.cmake), so that lintian accepts them.
set(ICL_MAINTAINER "icl maintainers <icl-maintainers@example.org>")

# The changelog's newest entry names the version being packaged.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog ICL_CHANGELOG_HEAD LIMIT_COUNT 1)
if(NOT ICL_CHANGELOG_HEAD MATCHES "^icl \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog starts with '${ICL_CHANGELOG_HEAD}', "
                      "not an entry for version ${PROJECT_VERSION}")
endif()

set(CPACK_PACKAGE_NAME icl)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the icl authors")
set(CPACK_PACKAGE_CONTACT "${ICL_MAINTAINER}")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
# Install under DESTDIR with the final prefix, so that what is written at
# install time (icl.pc) names /usr, not the staging directory.
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development)
if(ICL_BUILD_TOOLS)
  list(APPEND CPACK_COMPONENTS_ALL tools)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ICL_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SOURCE icl)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies between our own packages are exact; the system libraries our
# binaries need are found by dpkg-shlibdeps (DebianDepends.cmake).
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libicl1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION [=[
library for index cache labels
libicl keeps the labels of index caches: directories that hold index data
for one or more hosts. It reads a label and checks it against the identity a
host expects, adds and removes access paths, tests whether files can be
created and locked in a directory, and measures an index cache.
.
This package holds libicl.so.1 and libicl_host.so.1, the stand-in for the
host services (logging, platform information) that libicl calls.]=])
# ldconfig runs through dpkg's trigger, not through maintainer scripts; the
# shlibs and symbols files tell dpkg-shlibdeps what a program built against
# these libraries needs.
file(WRITE ${PROJECT_BINARY_DIR}/debian/libicl1/shlibs
  "libicl ${PROJECT_VERSION_MAJOR} libicl1 (>= ${PROJECT_VERSION})\n"
  "libicl_host ${PROJECT_VERSION_MAJOR} libicl1 (>= ${PROJECT_VERSION})\n")
configure_file(${PROJECT_SOURCE_DIR}/packaging/libicl1.triggers
  ${PROJECT_BINARY_DIR}/debian/libicl1/triggers COPYONLY)
configure_file(${PROJECT_SOURCE_DIR}/abi/libicl1.symbols
  ${PROJECT_BINARY_DIR}/debian/libicl1/symbols COPYONLY)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
  ${PROJECT_BINARY_DIR}/debian/libicl1/shlibs
  ${PROJECT_BINARY_DIR}/debian/libicl1/symbols
  ${PROJECT_BINARY_DIR}/debian/libicl1/triggers)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libicl-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS runtime)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION [=[
library for index cache labels - development files
libicl keeps the labels of index caches: directories that hold index data
for one or more hosts.
.
This package holds the headers, the CMake package (find_package(icl)) and
the pkg-config file needed to build programs that use libicl.]=])

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME icl)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION admin)
set(CPACK_COMPONENT_TOOLS_DEPENDS runtime)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION [=[
look at and maintain index cache labels
icl shows, checks, updates and writes the label of an index cache, tests
whether files can be created and locked in a directory, and measures an
index cache's disk usage, with plain or JSON output.]=])

# Per-package steps at packaging time: the binaries' system dependencies
# (DebianDepends.cmake) and the Debian layout of the staged files
# (DebianStaging.cmake). They find our binaries through this file.
set(ICL_DEB_TOOLS_BINARIES "")
if(TARGET icl_cli)
  set(ICL_DEB_TOOLS_BINARIES "$<TARGET_FILE:icl_cli>")
endif()
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/debian/binaries.cmake CONTENT "\
set(ICL_DEB_RUNTIME_BINARIES \"$<TARGET_FILE:icl>;$<TARGET_FILE:icl_host>\")
set(ICL_DEB_TOOLS_BINARIES \"${ICL_DEB_TOOLS_BINARIES}\")
set(ICL_DEB_LIBRARY_DIRS \"$<TARGET_FILE_DIR:icl>;$<TARGET_FILE_DIR:icl_host>\")
")
set(CPACK_ICL_BINARIES_FILE ${PROJECT_BINARY_DIR}/debian/binaries.cmake)
set(CPACK_ICL_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(CPACK_ICL_OBJCOPY ${CMAKE_OBJCOPY})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/DebianDepends.cmake)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/DebianStaging.cmake)

include(CPack)
