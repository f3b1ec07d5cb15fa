target_sources(korval_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/http_client.cpp
  ${CMAKE_CURRENT_LIST_DIR}/json_reader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sha256.cpp
)
target_link_libraries(korval_core PUBLIC winhttp bcrypt)
