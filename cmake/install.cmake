# Installation: the two libraries, the public headers (ours and the host's)
# under include/icl, a CMake package (icl::icl, which brings icl::host) and a
# pkg-config file.
include(CMakePackageConfigHelpers)

set(ICL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/icl)

install(TARGETS icl icl_host
  EXPORT iclTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
          NAMELINK_COMPONENT development
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/icl)

install(FILES
    ${PROJECT_SOURCE_DIR}/include/ICLExport.h
    ${PROJECT_SOURCE_DIR}/include/ICLRoutines.h
    ${PROJECT_SOURCE_DIR}/include/ZUPIFileOpen.h
    ${PROJECT_SOURCE_DIR}/include/IdxCacheDirInfo.h
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

# The prefix is found from the .pc file's own place, so a staged or relocated
# install works as well as the configured one.
file(RELATIVE_PATH ICL_PC_TO_PREFIX
  /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" ICL_PC_TO_PREFIX "${ICL_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/icl.pc.in ${PROJECT_BINARY_DIR}/icl.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/icl.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT development)
