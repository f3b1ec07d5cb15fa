target_sources(korval_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/download_events.cpp
  ${CMAKE_CURRENT_LIST_DIR}/download_run.cpp
  ${CMAKE_CURRENT_LIST_DIR}/download_worker.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_index.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_index_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/game_files_job.cpp
  ${CMAKE_CURRENT_LIST_DIR}/local_file_hash.cpp
  ${CMAKE_CURRENT_LIST_DIR}/manifest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/manifest_paths.cpp
  ${CMAKE_CURRENT_LIST_DIR}/part_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/part_transfer.cpp
)
target_link_libraries(korval_core PUBLIC shell32 winhttp bcrypt)
