# Cross-compiling for Windows with Debian's MinGW-w64 (posix threads, the
# flavour the Windows Qt of scripts/qt-windows is built with), for the
# processor and compiler prefix that mingw-w64.cmake (64-bit) or
# mingw-w64-i686.cmake (32-bit) set before they include this. The Qt is
# found through CMAKE_PREFIX_PATH or Qt5_DIR; everything links statically, so
# the programs need no DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${ORVANE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORVANE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ORVANE_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ORVANE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The Qt lives outside the MinGW root, in the build cache.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# A library too: the 32-bit compiler would otherwise tie it to its unwinder's
# DLL (libgcc_s_dw2-1.dll).
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
