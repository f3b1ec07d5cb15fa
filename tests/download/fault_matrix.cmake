# The fault matrix of the game files job, against the content server.
if(KORVAL_CONTENT_HOST STREQUAL "localhost")
  korval_server_test(download_fault_matrix_tests ${CMAKE_CURRENT_LIST_DIR}/fault_matrix_test.cpp)
  target_link_libraries(download_fault_matrix_tests PRIVATE download_test_harness)
endif()
