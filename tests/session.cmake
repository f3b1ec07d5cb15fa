# The page protocol, the install folder and the game start.
korval_test(session_unit_tests session/page_protocol_test.cpp session/page_message_test.cpp)

include(${CMAKE_CURRENT_LIST_DIR}/session/install_dir.cmake)

if(KORVAL_CONTENT_HOST STREQUAL "localhost")
  korval_server_test(page_session_tests session/page_session_test.cpp)
  target_link_libraries(page_session_tests PRIVATE browser_test_support download_test_harness)
  target_include_directories(page_session_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/browser)
  add_dependencies(page_session_tests cef_stub_full samp_stub)
  # The SA-MP and the launcher's keys in HKCU are shared by the whole prefix.
  set_tests_properties(page_session_tests PROPERTIES RESOURCE_LOCK "content_port;user_registry;folder_dialog")
endif()
