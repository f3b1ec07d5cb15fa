# Install folder cases, with a small and a read-only drive in the prefix.
add_executable(install_dir_tests ${CMAKE_CURRENT_LIST_DIR}/install_dir_test.cpp)
target_link_libraries(install_dir_tests PRIVATE test_support GTest::gtest_main)
add_test(NAME install_dir_tests
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/with_test_drives.sh ${CMAKE_BINARY_DIR}
    $<TARGET_FILE:install_dir_tests> --gtest_brief=1)
# The folder dialog is found by its title on the prefix's one desktop: only
# one test at a time may have one open.
set_tests_properties(install_dir_tests PROPERTIES RESOURCE_LOCK folder_dialog)
