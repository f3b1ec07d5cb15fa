target_sources(korval_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/http_client.cpp
  ${CMAKE_CURRENT_LIST_DIR}/json_reader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/link_meter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/release_verify.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sha256.cpp
  ${CMAKE_CURRENT_LIST_DIR}/signature_file.cpp
)
target_link_libraries(korval_core PUBLIC winhttp bcrypt)
