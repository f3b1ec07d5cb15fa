target_sources(korval_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/game_dir_setting.cpp
  ${CMAKE_CURRENT_LIST_DIR}/json_writer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/text_convert.cpp
)
