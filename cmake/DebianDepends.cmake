# CPack project configuration, read by cpack before it packages: each
# Debian package gets the system libraries its binaries need, as
# dpkg-shlibdeps finds them. Our own libraries are found in the build tree
# and depended on exactly, through the packages' component dependencies.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

# Each package's summary is the first line of its own description.
unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)

include(${CPACK_ICL_BINARIES_FILE})
find_program(ICL_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(NOT ICL_DPKG_SHLIBDEPS)
  message(FATAL_ERROR "the Debian packages need dpkg-shlibdeps (apt-get install dpkg-dev)")
endif()

# Sets `out` to the Depends that the binaries given after it need.
function(icl_system_depends out)
  set(work ${CPACK_PACKAGE_DIRECTORY}/_shlibdeps)
  file(REMOVE_RECURSE ${work})
  file(WRITE ${work}/debian/control "")  # dpkg-shlibdeps reads it
  list(TRANSFORM ICL_DEB_LIBRARY_DIRS PREPEND -l OUTPUT_VARIABLE search)
  execute_process(
    COMMAND ${ICL_DPKG_SHLIBDEPS} ${search} --ignore-missing-info -O ${ARGN}
    WORKING_DIRECTORY ${work}
    RESULT_VARIABLE status
    OUTPUT_VARIABLE output
    ERROR_VARIABLE errors
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  file(REMOVE_RECURSE ${work})
  if(NOT status EQUAL 0 OR NOT output MATCHES "^shlibs:Depends=(.+)$")
    message(FATAL_ERROR "dpkg-shlibdeps ${ARGN} failed:\n${errors}${output}")
  endif()
  set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()

icl_system_depends(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS ${ICL_DEB_RUNTIME_BINARIES})
if(ICL_DEB_TOOLS_BINARIES)
  icl_system_depends(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS ${ICL_DEB_TOOLS_BINARIES})
endif()
