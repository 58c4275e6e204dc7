# Cross build for Windows x86-64 with Debian's MinGW-w64 (posix threads), tested under Wine.
#
# The C and C++ runtimes and winpthreads are linked statically, so the DLLs and the .exe
# need no MinGW DLL beside them at run time. CTest runs every test executable through
# Wine (CMAKE_CROSSCOMPILING_EMULATOR); `make windows` gives it a fresh WINEPREFIX inside
# the build tree.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(GP_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${GP_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${GP_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${GP_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${GP_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${GP_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${GP_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Header-only libraries of the build machine (RapidJSON) are usable as they are.
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Debian's wine64 package puts the 64-bit loader here; plain `wine` wants the 32-bit package.
find_program(GP_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT GP_WINE)
  find_program(GP_WINE NAMES wine64 wine)
endif()
if(GP_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${GP_WINE})
endif()
