# Cross build for 64-bit Windows with the window: the project's MinGW-w64
# toolchain plus the static Qt that scripts/build-qt-mingw.sh built, named
# by MQ_QT_MINGW_PREFIX (its install prefix). Qt's build tools (moc, rcc,
# uic) are the build machine's, from Debian's Qt of the same version.
#
#   cmake -S . -B build-win -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64-qt.cmake \
#         -DMQ_QT_MINGW_PREFIX=$(bash scripts/build-qt-mingw.sh | tail -n1)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-x86_64.cmake)

# Test compilations of CMake see the same prefix.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MQ_QT_MINGW_PREFIX)
if(NOT MQ_QT_MINGW_PREFIX OR NOT EXISTS "${MQ_QT_MINGW_PREFIX}/lib/cmake/Qt6/Qt6Config.cmake")
  message(FATAL_ERROR "MQ_QT_MINGW_PREFIX='${MQ_QT_MINGW_PREFIX}' holds no Qt 6: run scripts/build-qt-mingw.sh")
endif()
list(APPEND CMAKE_FIND_ROOT_PATH "${MQ_QT_MINGW_PREFIX}")
set(QT_HOST_PATH /usr CACHE PATH "Qt of the build machine (its tools)")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "CMake packages of the build machine's Qt")
