# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix thread model,
# so std::thread and std::mutex work as on the native build).
#
#   cmake -S . -B build-win -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DMQ_BUILD_APP=OFF
#
# Executables link libgcc, libstdc++ and winpthread statically, so they run
# under Wine or on a bare Windows machine without any MinGW DLL beside them.
# Target programs (the unit tests) run through Wine: see MqTesting.cmake.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MQ_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MQ_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MQ_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MQ_MINGW_TRIPLET}-windres)

# Libraries and headers come from the MinGW sysroot only; programs (Python
# for the catalogue generator, Wine) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${MQ_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static: libstdc++, libgcc and libwinpthread go into each executable; the
# system DLLs (kernel32, shell32, ...) stay dynamic as they must.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Run target programs with Wine in a prefix of the build folder's own, with
# Wine's debug channels and its .NET/HTML engine installers switched off.
# A prefix set in the environment (WINEPREFIX) is not used: tests always get
# a prefix this build created.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(MQ_WINE NAMES wine wine64 wine-stable PATHS /usr/lib/wine)
  if(MQ_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR
      env WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix WINEDEBUG=-all
          WINEDLLOVERRIDES=mscoree,mshtml= ${MQ_WINE})
  endif()
endif()
