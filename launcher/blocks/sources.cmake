target_sources(korval_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/batch_fetcher.cpp
  ${CMAKE_CURRENT_LIST_DIR}/block_kinds.cpp
  ${CMAKE_CURRENT_LIST_DIR}/block_map.cpp
  ${CMAKE_CURRENT_LIST_DIR}/block_match.cpp
  ${CMAKE_CURRENT_LIST_DIR}/block_plan.cpp
  ${CMAKE_CURRENT_LIST_DIR}/block_transfer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/multipart_reader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/range_batches.cpp
)
target_link_libraries(korval_core PUBLIC winhttp bcrypt)
