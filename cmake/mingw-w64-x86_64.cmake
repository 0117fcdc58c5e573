# Cross-build for 64-bit Windows with mingw-w64. The -posix compilers carry
# std::thread, which GoogleTest needs; the library itself calls Win32 threads.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine, and they are 64-bit PE files, so they need the
# 64-bit loader. Debian keeps it out of PATH as /usr/lib/wine/wine64; its
# `wine` is a script that prefers the 32-bit loader when that is installed and
# otherwise warns on stderr on every start. Other systems put wine64 on PATH.
find_program(TANDRELO_WINE64 NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine)
if(TANDRELO_WINE64)
  set(tandrelo_wine ${TANDRELO_WINE64})
else()
  set(tandrelo_wine wine)
endif()
# Wine maps a few Windows structures at fixed addresses as it starts. With
# address-space randomisation, now and then a Linux mapping already sits
# there and the program dies at once ("failed to map the shared user data",
# no test output). Started without randomisation the layout is always the
# same and that never happens. Some containers forbid the switch; there the
# programs start as they are.
execute_process(COMMAND setarch x86_64 -R true
                RESULT_VARIABLE tandrelo_no_random OUTPUT_QUIET ERROR_QUIET)
if(tandrelo_no_random EQUAL 0)
  set(CMAKE_CROSSCOMPILING_EMULATOR setarch x86_64 -R ${tandrelo_wine})
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR ${tandrelo_wine})
endif()
