# The hardening Debian builds its packages with: checked variants of the C
# library's buffer functions where the compiler optimises (the checks need
# it), and every symbol bound at load time so that, with the linker's
# default relro, the whole relocation table becomes read-only. The
# sanitizer and fuzzing builds do their own checking.
if(NOT ICL_SANITIZE AND NOT ICL_FUZZ)
  add_compile_definitions(
    $<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:_FORTIFY_SOURCE=2>)
endif()
add_link_options(LINKER:-z,relro LINKER:-z,now)
