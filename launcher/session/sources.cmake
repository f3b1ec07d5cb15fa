target_sources(korval_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/game_dir_setting.cpp
  ${CMAKE_CURRENT_LIST_DIR}/install_dir.cpp
  ${CMAKE_CURRENT_LIST_DIR}/game_launch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/json_writer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/page_dispatcher.cpp
  ${CMAKE_CURRENT_LIST_DIR}/page_message.cpp
  ${CMAKE_CURRENT_LIST_DIR}/player_actions.cpp
  ${CMAKE_CURRENT_LIST_DIR}/text_convert.cpp
)
# The folder dialog (COM) and the folder creation with its parents (shell).
target_link_libraries(korval_core PUBLIC ole32 shell32)
