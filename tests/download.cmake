# Game file download: manifest and index on their own, then the game files job
# with its workers against the test content server.
korval_test(download_unit_tests
  download/manifest_test.cpp
  download/file_index_test.cpp
  download/events_test.cpp)

if(KORVAL_CONTENT_HOST STREQUAL "localhost")
  add_library(download_test_harness STATIC download/job_harness.cpp)
  target_link_libraries(download_test_harness PUBLIC test_support GTest::gtest)
  target_include_directories(download_test_harness PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/download)

  foreach(program install resume failure)
    korval_server_test(download_${program}_tests download/${program}_test.cpp)
    target_link_libraries(download_${program}_tests PRIVATE download_test_harness)
  endforeach()

  # Holds a file open as a running game would, from a process of its own.
  add_executable(hold_file download/hold_file.cpp)
  target_link_options(hold_file PRIVATE -municode)
  add_dependencies(download_resume_tests hold_file)
  add_dependencies(download_install_tests hold_file)
  add_dependencies(download_install_tests scanner_stub)
  # Remembers the manifest's release number in HKCU, shared by the whole prefix.
  set_tests_properties(download_install_tests PROPERTIES RESOURCE_LOCK "content_port;user_registry")

  # Too little free space: a small tmpfs mounted as a Wine drive around the
  # program (needs root, as in CI).
  add_executable(download_space_tests download/space_test.cpp)
  target_link_libraries(download_space_tests PRIVATE download_test_harness GTest::gtest_main)
  add_dependencies(download_space_tests install_root_cert)
  add_test(NAME download_space_tests
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/download/with_small_drive.sh ${CMAKE_BINARY_DIR}
      ${KORVAL_CONTENT_PORT} $<TARGET_FILE:download_space_tests> --gtest_brief=1)
  set_tests_properties(download_space_tests PROPERTIES RESOURCE_LOCK content_port)
endif()

if(KORVAL_CONTENT_HOST STREQUAL "localhost")
  # Flushes before moves, seen as the fsync calls that reach the kernel: the
  # fresh install of 304 files completes 304 partial files.
  add_test(NAME download_flush_tests
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/download/with_fsync_trace.sh ${CMAKE_BINARY_DIR}
      ${KORVAL_CONTENT_PORT} 304 $<TARGET_FILE:download_install_tests>
      --gtest_filter=Install.FreshInstallThenEverythingTrusted --gtest_brief=1)
  set_tests_properties(download_flush_tests PROPERTIES RESOURCE_LOCK content_port)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/download/fault_matrix.cmake)
