# What the window needs from a static Qt without the SVG module (the
# Windows cross build against scripts/build-qt-mingw.sh's Qt):
#
# - MQ_PNG_RESOURCE_SOURCE (with MQ_APP_PNG_IMAGES): the compiled resources of resources/mqtool.qrc
#   with every SVG picture replaced by PNG files at 24 px and @2x, drawn by
#   mq-render-images, a tool built for the build machine with its own Qt
#   and QtSvg, so the Windows toolbar shows the same pictures;
# - mq_import_static_qt_plugins(<target> [OFFSCREEN]): links the Windows
#   platform plugin and the Windows styles into a program, and the offscreen
#   platform for test programs (a static Qt has no plugin folder to load
#   them from);
# - mq_add_qt_test(<target> <timeout>): registers a Qt test program with
#   CTest on the offscreen platform, per case natively, as one run under
#   Wine in cross builds.
include_guard()

function(mq_import_static_qt_plugins target)
  cmake_parse_arguments(P "OFFSCREEN" "" "" ${ARGN})
  get_target_property(core_type Qt6::Core TYPE)
  if(NOT core_type STREQUAL "STATIC_LIBRARY")
    return()
  endif()
  set(plugins)
  foreach(p QWindowsIntegrationPlugin QWindowsVistaStylePlugin)
    if(TARGET Qt6::${p})
      list(APPEND plugins Qt6::${p})
    endif()
  endforeach()
  if(P_OFFSCREEN AND TARGET Qt6::QOffscreenIntegrationPlugin)
    list(APPEND plugins Qt6::QOffscreenIntegrationPlugin)
  endif()
  qt_import_plugins(${target} INCLUDE ${plugins})
endfunction()

# An optional third argument names test cases left out of the offscreen run
# (a GoogleTest filter pattern, e.g. cases that need a real X server).
function(mq_add_qt_test target timeout)
  set(filter "")
  if(ARGC GREATER 2)
    set(filter "-${ARGV2}")
  endif()
  mq_import_static_qt_plugins(${target} OFFSCREEN)
  if(CMAKE_CROSSCOMPILING)
    # The window's fonts come from the build machine: Wine's Tahoma and
    # the Liberation fonts, seen through Wine's Z: drive.
    add_test(NAME ${target} COMMAND ${target} --gtest_color=no "--gtest_filter=${filter}")
    set_tests_properties(${target} PROPERTIES TIMEOUT ${timeout}
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_QPA_FONTDIR=${MQ_WINE_FONT_DIR}")
    if(CMAKE_CROSSCOMPILING_EMULATOR)
      set_tests_properties(${target} PROPERTIES FIXTURES_REQUIRED wine)
    endif()
  else()
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 120 TEST_FILTER "${filter}"
      PROPERTIES TIMEOUT ${timeout} ENVIRONMENT QT_QPA_PLATFORM=offscreen)
  endif()
endfunction()

if(CMAKE_CROSSCOMPILING)
  # Fonts for the offscreen platform under Wine (it draws with FreeType
  # from one folder): a folder of the build tree holding links to the build
  # machine's fonts, named as Windows sees it.
  set(MQ_WINE_FONT_LINKS ${CMAKE_CURRENT_BINARY_DIR}/fonts)
  file(MAKE_DIRECTORY ${MQ_WINE_FONT_LINKS})
  file(GLOB mq_host_fonts /usr/share/wine/fonts/tahoma*.ttf /usr/share/fonts/truetype/liberation/*.ttf)
  foreach(font IN LISTS mq_host_fonts)
    get_filename_component(name ${font} NAME)
    file(CREATE_LINK ${font} ${MQ_WINE_FONT_LINKS}/${name} SYMBOLIC)
  endforeach()
  set(MQ_WINE_FONT_DIR "Z:${MQ_WINE_FONT_LINKS}")
endif()

if(NOT MQ_APP_PNG_IMAGES)
  return()
endif()

# The picture tool, built with the build machine's compiler and Qt.
include(ExternalProject)
set(mq_render_dir ${CMAKE_CURRENT_BINARY_DIR}/render_images)
set(mq_render_tool ${mq_render_dir}/mq-render-images)
ExternalProject_Add(mq_render_images_host
  SOURCE_DIR ${CMAKE_CURRENT_SOURCE_DIR}/render_images
  BINARY_DIR ${mq_render_dir}
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE= -DCMAKE_CROSSCOMPILING_EMULATOR=
  BUILD_BYPRODUCTS ${mq_render_tool}
  INSTALL_COMMAND ""
  USES_TERMINAL_BUILD OFF)

# The resource list with PNG files for the SVG ones, and every other path
# made absolute (the generated list lives in the build tree).
set(mq_qrc_in ${CMAKE_CURRENT_SOURCE_DIR}/resources/mqtool.qrc)
set(mq_png_dir ${CMAKE_CURRENT_BINARY_DIR}/images_png)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${mq_qrc_in})
file(READ ${mq_qrc_in} mq_qrc)
string(REGEX MATCHALL "<file alias=\"[^\"]+\\.svg\">[^<]+</file>" mq_svg_entries "${mq_qrc}")
set(mq_svgs)
set(mq_pngs)
foreach(entry IN LISTS mq_svg_entries)
  string(REGEX REPLACE "<file alias=\"([^\"]+)\\.svg\">([^<]+)</file>" "\\1;\\2" parts "${entry}")
  list(GET parts 0 name)
  list(GET parts 1 path)
  list(APPEND mq_svgs ${CMAKE_CURRENT_SOURCE_DIR}/resources/${path})
  list(APPEND mq_pngs ${mq_png_dir}/${name}.png ${mq_png_dir}/${name}@2x.png)
endforeach()
string(REGEX REPLACE "<file alias=\"([^\"]+)\\.svg\">[^<]+</file>"
  "<file alias=\"\\1.png\">${mq_png_dir}/\\1.png</file><file alias=\"\\1@2x.png\">${mq_png_dir}/\\1@2x.png</file>"
  mq_qrc "${mq_qrc}")
string(REGEX REPLACE "(<file[^>]*>)([^/<][^<]*)</file>" "\\1${CMAKE_CURRENT_SOURCE_DIR}/resources/\\2</file>"
  mq_qrc "${mq_qrc}")
set(mq_qrc_png ${CMAKE_CURRENT_BINARY_DIR}/mqtool_png.qrc)
file(GENERATE OUTPUT ${mq_qrc_png} CONTENT "${mq_qrc}")
string(REGEX MATCHALL ">[^<]+</file>" mq_qrc_files "${mq_qrc}")
list(TRANSFORM mq_qrc_files REPLACE "^>([^<]+)</file>$" "\\1")

add_custom_command(
  OUTPUT ${mq_pngs}
  COMMAND ${mq_render_tool} ${mq_png_dir} 24 ${mq_svgs}
  DEPENDS mq_render_images_host ${mq_svgs}
  COMMENT "Drawing the window's SVG pictures into PNG files"
  VERBATIM)

# rcc of the build machine, without zstd: the static Qt has no zstd to
# decompress with.
set(MQ_PNG_RESOURCE_SOURCE ${CMAKE_CURRENT_BINARY_DIR}/qrc_mqtool_png.cpp)
add_custom_command(
  OUTPUT ${MQ_PNG_RESOURCE_SOURCE}
  COMMAND Qt6::rcc --no-zstd --name mqtool -o ${MQ_PNG_RESOURCE_SOURCE} ${mq_qrc_png}
  DEPENDS ${mq_qrc_png} ${mq_qrc_files}
  COMMENT "Compiling the window's resources"
  VERBATIM)
set_source_files_properties(${MQ_PNG_RESOURCE_SOURCE} PROPERTIES SKIP_AUTOMOC ON SKIP_AUTOUIC ON)
