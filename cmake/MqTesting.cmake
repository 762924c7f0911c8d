# mq_add_test(<name> SOURCES <files...> LIBS <targets...> [TIMEOUT <s>] [HOST_ONLY]
#             [CROSS_WRAPPER <command...>])
# Builds one GoogleTest executable and registers its cases with CTest.
#
# Native builds use the system's GoogleTest and register every test case on
# its own. Cross builds (Windows with MinGW) build GoogleTest from the sources
# Debian's googletest package ships, and register each executable as one
# test run through CMAKE_CROSSCOMPILING_EMULATOR (Wine), after a fixture that
# prepares the Wine prefix; a CROSS_WRAPPER command (a build-machine program
# that prepares something around the run, such as COM ports) is put in front
# of the emulator there. HOST_ONLY tests drive tools of the build machine
# (Python, for instance) and are not built for another platform.
if(MQ_BUILD_TESTS)
  enable_testing()
  if(CMAKE_CROSSCOMPILING)
    set(MQ_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources for cross builds")
    if(NOT EXISTS "${MQ_GTEST_SOURCE_DIR}/CMakeLists.txt")
      message(FATAL_ERROR "Cross build: no GoogleTest sources in ${MQ_GTEST_SOURCE_DIR} (Debian package googletest)")
    endif()
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    # GoogleTest's own sources are not held to this project's warning flags,
    # and SYSTEM keeps its headers from raising warnings in our tests.
    get_directory_property(mq_saved_compile_options COMPILE_OPTIONS)
    set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
    add_subdirectory(${MQ_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL SYSTEM)
    set_directory_properties(PROPERTIES COMPILE_OPTIONS "${mq_saved_compile_options}")
    foreach(lib gtest gtest_main gmock gmock_main)
      if(NOT TARGET GTest::${lib})
        add_library(GTest::${lib} ALIAS ${lib})
      endif()
    endforeach()

    if(CMAKE_CROSSCOMPILING_EMULATOR)
      # The first run in a new Wine prefix creates it (about 15 s); do that
      # once, before the tests, instead of inside the first test's time-out.
      add_test(NAME wine_prefix COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} wineboot.exe --init)
      set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
    endif()
  else()
    find_package(GTest REQUIRED)
    include(GoogleTest)
  endif()
endif()

function(mq_add_test name)
  if(NOT MQ_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "HOST_ONLY" "TIMEOUT" "SOURCES;LIBS;CROSS_WRAPPER" ${ARGN})
  if(T_HOST_ONLY AND CMAKE_CROSSCOMPILING)
    return()
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  if(CMAKE_CROSSCOMPILING)
    # One CTest entry per executable: every start of a Wine process costs
    # about a second, so per-case registration would multiply that.
    if(T_CROSS_WRAPPER)
      add_test(NAME ${name}
        COMMAND ${T_CROSS_WRAPPER} ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${name}> --gtest_color=no)
    else()
      add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
    if(CMAKE_CROSSCOMPILING_EMULATOR)
      set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine)
    endif()
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT ${T_TIMEOUT})
  endif()
endfunction()
