# Install-time step: writes icl.pc (ICL_PC_OUTPUT) from its template
# (ICL_PC_TEMPLATE) for the prefix being installed to, normalised and
# without a trailing slash.
cmake_path(NORMAL_PATH CMAKE_INSTALL_PREFIX OUTPUT_VARIABLE ICL_PC_PREFIX)
string(REGEX REPLACE "(.)/+$" "\\1" ICL_PC_PREFIX "${ICL_PC_PREFIX}")
configure_file(${ICL_PC_TEMPLATE} ${ICL_PC_OUTPUT} @ONLY)
