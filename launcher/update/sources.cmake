target_sources(korval_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/self_update.cpp
  ${CMAKE_CURRENT_LIST_DIR}/version_record.cpp
)
