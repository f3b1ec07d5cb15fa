# Both executables carry a version resource with the launcher's version. The
# version is read from its one definition in the sources, so the resource
# (which publish-launcher trusts) can never disagree with what the running
# launcher reports to the self-update.
set(KORVAL_PRODUCT_NAME "Korval Launcher" CACHE STRING "Product name in the version resource")
set(KORVAL_PUBLISHER "Korval" CACHE STRING "Publisher (company) in the version resource")

set(korval_version_source ${PROJECT_SOURCE_DIR}/launcher/core/session_state.cpp)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${korval_version_source})
file(STRINGS ${korval_version_source} korval_version_line
  REGEX "LAUNCHER_VERSION\\[\\] = \"[0-9.]+\"")
string(REGEX MATCH "\"([0-9.]+)\"" korval_version_match "${korval_version_line}")
set(KORVAL_LAUNCHER_VERSION "${CMAKE_MATCH_1}")
if(NOT KORVAL_LAUNCHER_VERSION)
  message(FATAL_ERROR "LAUNCHER_VERSION not found in ${korval_version_source}")
endif()

# The binary fields hold four numbers; missing components are 0.
string(REPLACE "." ";" korval_version_parts "${KORVAL_LAUNCHER_VERSION}")
list(LENGTH korval_version_parts korval_version_count)
while(korval_version_count LESS 4)
  list(APPEND korval_version_parts 0)
  math(EXPR korval_version_count "${korval_version_count} + 1")
endwhile()
list(SUBLIST korval_version_parts 0 4 korval_version_parts)
list(JOIN korval_version_parts "," KORVAL_VERSION_NUMBERS)

configure_file(${PROJECT_SOURCE_DIR}/resources/version_info.h.in
  ${CMAKE_BINARY_DIR}/generated/version_info.h @ONLY)
