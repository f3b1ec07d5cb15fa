# The install folder.
include(${CMAKE_CURRENT_LIST_DIR}/session/install_dir.cmake)
