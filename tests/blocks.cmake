# Block updates: descriptions, the matcher and the plan on their own, then
# whole block builds through the game files job against the test content
# server.
korval_test(block_unit_tests
  blocks/block_match_test.cpp
  blocks/block_description.cpp
  blocks/range_request_test.cpp
  update/allocation_ceiling.cpp)
target_include_directories(block_unit_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/update)

if(KORVAL_CONTENT_HOST STREQUAL "localhost")
  korval_server_test(block_update_tests blocks/block_update_test.cpp blocks/block_description.cpp)
  target_link_libraries(block_update_tests PRIVATE download_test_harness)
  add_dependencies(block_update_tests hold_file scanner_stub)
  # Remembers the manifest's release number in HKCU, shared by the whole prefix.
  set_tests_properties(block_update_tests PROPERTIES RESOURCE_LOCK "content_port;user_registry")
endif()
