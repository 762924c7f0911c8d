# Header-only libraries from Debian packages (scripts/deps.sh installs them):
#   mq_cli11  CLI11 (libcli11-dev)           mqtool-cli's command line
#   mq_json   nlohmann/json (nlohmann-json3-dev)  mqtool-cli's JSON output
#
# The headers are the build machine's, also for the MinGW cross build (they
# are plain C++). The cross build must not see the rest of /usr/include (its
# C library headers would shadow MinGW's), so each library's folder is
# linked into a folder of the build tree and only that is put on the
# include path, as a system folder (their warnings are not ours).
set(MQ_HEADER_ONLY_DIR ${CMAKE_BINARY_DIR}/header-only)

function(mq_header_only_library target header package)
  find_path(${target}_DIR ${header} PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT ${target}_DIR)
    message(FATAL_ERROR "${header} not found: install the Debian package ${package} (scripts/deps.sh)")
  endif()
  get_filename_component(top ${header} DIRECTORY)
  file(MAKE_DIRECTORY ${MQ_HEADER_ONLY_DIR})
  if(NOT EXISTS ${MQ_HEADER_ONLY_DIR}/${top})
    file(CREATE_LINK ${${target}_DIR}/${top} ${MQ_HEADER_ONLY_DIR}/${top} SYMBOLIC)
  endif()
  add_library(${target} INTERFACE)
  target_include_directories(${target} SYSTEM INTERFACE ${MQ_HEADER_ONLY_DIR})
endfunction()

mq_header_only_library(mq_cli11 CLI/CLI.hpp libcli11-dev)
mq_header_only_library(mq_json nlohmann/json.hpp nlohmann-json3-dev)
