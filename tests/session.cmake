# The page protocol, the install folder and the game start.
korval_test(session_unit_tests session/page_protocol_test.cpp session/page_message_test.cpp)

include(${CMAKE_CURRENT_LIST_DIR}/session/install_dir.cmake)

if(KORVAL_CONTENT_HOST STREQUAL "localhost")
  # With the content server and, for the whole road onto it, the strict drive.
  add_executable(page_session_tests session/page_session_test.cpp)
  target_link_libraries(page_session_tests PRIVATE test_support GTest::gtest_main)
  add_dependencies(page_session_tests install_root_cert wine_drive)
  add_test(NAME page_session_tests
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/session/with_strict_drive.sh ${CMAKE_BINARY_DIR}
      bash ${CMAKE_SOURCE_DIR}/tools/with_content_server.sh ${CMAKE_BINARY_DIR}
      ${KORVAL_CONTENT_PORT} $<TARGET_FILE:page_session_tests> --gtest_brief=1)
  target_link_libraries(page_session_tests PRIVATE browser_test_support download_test_harness)
  target_include_directories(page_session_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/browser)
  add_dependencies(page_session_tests cef_stub_full samp_stub)
  # The SA-MP and the launcher's keys in HKCU are shared by the whole prefix;
  # the folder dialog lock also keeps the strict drive from other tests.
  set_tests_properties(page_session_tests PROPERTIES RESOURCE_LOCK "content_port;user_registry;folder_dialog")
endif()
