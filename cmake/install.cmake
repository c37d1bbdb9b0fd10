# Installation: the two libraries, the public headers (ours and the host's)
# under include/icl, a CMake package (icl::icl, which brings icl::host) and a
# pkg-config file.
include(CMakePackageConfigHelpers)

set(ICL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/icl)

install(TARGETS icl icl_host
  EXPORT iclTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
          NAMELINK_COMPONENT development)

install(FILES
    ${PROJECT_SOURCE_DIR}/include/ICLExport.h
    ${PROJECT_SOURCE_DIR}/include/ICLRoutines.h
    ${PROJECT_SOURCE_DIR}/include/ZUPIFileOpen.h
    ${PROJECT_SOURCE_DIR}/include/IdxCacheDirInfo.h
    ${PROJECT_SOURCE_DIR}/include/ICLToolSupport.h
    ${PROJECT_SOURCE_DIR}/host/HostExport.h
    ${PROJECT_SOURCE_DIR}/host/EvEvent.h
    ${PROJECT_SOURCE_DIR}/host/ZUPlatformInfo.h
    ${PROJECT_SOURCE_DIR}/host/ZuException.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/icl
  COMPONENT development)

install(EXPORT iclTargets
  NAMESPACE icl::
  DESTINATION ${ICL_CMAKE_DIR}
  COMPONENT development)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/iclConfig.cmake.in
  ${PROJECT_BINARY_DIR}/iclConfig.cmake
  INSTALL_DESTINATION ${ICL_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/iclConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
    ${PROJECT_BINARY_DIR}/iclConfig.cmake
    ${PROJECT_BINARY_DIR}/iclConfigVersion.cmake
  DESTINATION ${ICL_CMAKE_DIR}
  COMPONENT development)

# The pkg-config file names the prefix installed to, which is known only at
# install time (`cmake --install --prefix`, or /usr in the packages), so that
# every path it gives is plain and absolute.
set(ICL_PC_PREFIX "@ICL_PC_PREFIX@")  # left for WritePkgConfig.cmake to fill in
configure_file(${CMAKE_CURRENT_LIST_DIR}/icl.pc.in ${PROJECT_BINARY_DIR}/icl.pc.in @ONLY)
install(CODE "
  set(ICL_PC_TEMPLATE \"${PROJECT_BINARY_DIR}/icl.pc.in\")
  set(ICL_PC_OUTPUT \"${PROJECT_BINARY_DIR}/icl.pc\")
  include(\"${CMAKE_CURRENT_LIST_DIR}/WritePkgConfig.cmake\")"
  COMPONENT development)
install(FILES ${PROJECT_BINARY_DIR}/icl.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT development)
