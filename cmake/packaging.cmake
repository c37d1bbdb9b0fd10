# Packages, made by `cpack` in the build directory: one .deb with everything
# that is installed (the two libraries, the headers, the CMake package, the
# pkg-config file and the icl tool), and a .tar.gz of the same files.
set(CPACK_PACKAGE_NAME icl)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "icl maintainers")
set(CPACK_PACKAGE_CONTACT "icl maintainers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION [=[
libicl keeps the labels of index caches: directories that hold index data
for one or more hosts. It reads a label and checks it against the identity a
host expects, adds and removes access paths, tests whether files can be
created in a directory, and measures an index cache.
The package holds the library, its host-services stand-in libicl_host, the
headers, a CMake package, a pkg-config file and the icl command-line tool.]=])
# Release binaries; debug information stays in the build tree.
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_GENERATOR DEB TGZ)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "icl maintainers")
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
# The system libraries the binaries need are read from the binaries where
# dpkg-shlibdeps exists; elsewhere they are stated by hand.
find_program(ICL_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(ICL_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
endif()

include(CPack)
