target_sources(korval_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/busy_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/command_line.cpp
  ${CMAKE_CURRENT_LIST_DIR}/log.cpp
  ${CMAKE_CURRENT_LIST_DIR}/main_window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/option_table.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device_names.cpp
  ${CMAKE_CURRENT_LIST_DIR}/session_state.cpp
  ${CMAKE_CURRENT_LIST_DIR}/shell_actions.cpp
  ${CMAKE_CURRENT_LIST_DIR}/single_instance.cpp
  ${CMAKE_CURRENT_LIST_DIR}/startup_sequence.cpp
  ${CMAKE_CURRENT_LIST_DIR}/taskbar.cpp
  ${CMAKE_CURRENT_LIST_DIR}/text_format.cpp
)
target_link_libraries(korval_core PUBLIC shell32 advapi32 user32 gdi32 ole32 dwmapi)
