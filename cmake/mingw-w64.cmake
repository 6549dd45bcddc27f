# SPDX-License-Identifier: MIT
# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (POSIX threads
# flavour, which libstdc++'s std::thread and std::mutex need) and runs the
# results under Wine.
#
#   MINGW_CRT=ucrt    (default) link the Universal C Runtime, the one current
#                     Microsoft compilers link, through the api-ms-win-crt-* DLLs
#   MINGW_CRT=msvcrt  link the legacy msvcrt.dll, this toolchain's own default
#
# The mingw preset links msvcrt. Debian's libstdc++ for mingw-w64 is built
# against msvcrt; linked with the UCRT instead, its std::filesystem and
# std::fstream fail at run time, and the libraries and programs here use both.
# Only the platform layer's reference tests (scripts/wine-tests.sh building
# tests/wine), which use neither, build with the UCRT by default.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres)
set(CMAKE_AR ${MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# try_compile projects re-read this file but not the cache: pass the choice on.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MINGW_CRT)
if(NOT MINGW_CRT)
  set(MINGW_CRT ucrt)
endif()
set(MINGW_CRT "${MINGW_CRT}" CACHE STRING "C runtime to link: ucrt or msvcrt")

if(MINGW_CRT STREQUAL "ucrt")
  # Debian's GCC 12 for mingw-w64 has no -mcrtdll; its specs name msvcrt, so a
  # copy of them names ucrt instead, and _UCRT selects the matching headers.
  set(_mingw_specs "${CMAKE_BINARY_DIR}/mingw-ucrt.specs")
  if(NOT EXISTS "${_mingw_specs}")
    execute_process(COMMAND ${CMAKE_C_COMPILER} -dumpspecs OUTPUT_VARIABLE _specs
                    RESULT_VARIABLE _rc)
    if(NOT _rc EQUAL 0 OR NOT _specs MATCHES "-lmsvcrt")
      message(FATAL_ERROR "cannot derive UCRT specs from ${CMAKE_C_COMPILER} -dumpspecs")
    endif()
    string(REPLACE "-lmsvcrt" "-lucrt" _specs "${_specs}")
    file(WRITE "${_mingw_specs}" "${_specs}")
  endif()
  set(CMAKE_C_FLAGS_INIT "-D_UCRT")
  set(CMAKE_CXX_FLAGS_INIT "-D_UCRT")
  # The prebuilt winpthreads calls msvcrt's _setjmp, which the UCRT exports as
  # __intrinsic_setjmp with the same arguments.
  set(CMAKE_EXE_LINKER_FLAGS_INIT
      "-specs=${_mingw_specs} -Wl,--defsym=_setjmp=__intrinsic_setjmp")
elseif(NOT MINGW_CRT STREQUAL "msvcrt")
  message(FATAL_ERROR "MINGW_CRT must be ucrt or msvcrt, not '${MINGW_CRT}'")
endif()

# Debian's wine package provides "wine", which picks the 64-bit loader for a
# PE32+ file; other layouts only have "wine64".
find_program(MINGW_WINE NAMES wine wine64 PATHS /usr/lib/wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${MINGW_WINE})
