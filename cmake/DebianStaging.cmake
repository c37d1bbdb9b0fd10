# CPack pre-build script: lays out the staged files of each Debian package as
# Debian policy asks, before cpack packs them.
#   - share/doc/<package>/: the copyright file and the changelog (gzip -9n);
#   - manual pages compressed with gzip -9n;
#   - ELF files without RUNPATH (the libraries are in the system's search
#     path) and without the .comment and .note sections, as dh_strip leaves
#     them.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

find_program(ICL_GZIP gzip REQUIRED)

# Runs a command and stops the packaging when it fails.
function(icl_run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status ERROR_VARIABLE errors)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN} failed (${status}): ${errors}")
  endif()
endfunction()

function(icl_gzip file)
  icl_run(${ICL_GZIP} -9nf ${file})
endfunction()

function(icl_is_elf file out)
  file(READ ${file} magic LIMIT 4 HEX)
  if(magic STREQUAL "7f454c46")
    set(${out} TRUE PARENT_SCOPE)
  else()
    set(${out} FALSE PARENT_SCOPE)
  endif()
endfunction()

foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  string(TOUPPER ${component} upper)
  set(package ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
  set(root ${CPACK_TEMPORARY_DIRECTORY}/${component})
  set(usr ${root}${CPACK_PACKAGING_INSTALL_PREFIX})

  set(doc ${usr}/share/doc/${package})
  file(MAKE_DIRECTORY ${doc})
  file(COPY_FILE ${CPACK_ICL_PACKAGING_DIR}/copyright ${doc}/copyright)
  file(COPY_FILE ${CPACK_ICL_PACKAGING_DIR}/changelog ${doc}/changelog)
  icl_gzip(${doc}/changelog)

  file(GLOB_RECURSE manuals LIST_DIRECTORIES false ${usr}/share/man/*)
  list(FILTER manuals EXCLUDE REGEX "\\.gz$")
  foreach(manual IN LISTS manuals)
    icl_gzip(${manual})
  endforeach()

  file(GLOB_RECURSE files LIST_DIRECTORIES false ${root}/*)
  foreach(file IN LISTS files)
    if(IS_SYMLINK ${file})
      continue()
    endif()
    icl_is_elf(${file} elf)
    if(elf)
      file(RPATH_REMOVE FILE ${file})
      icl_run(${CPACK_ICL_OBJCOPY} --remove-section=.comment --remove-section=.note ${file})
    endif()
  endforeach()
endforeach()
