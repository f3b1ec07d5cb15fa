# Install folder cases, with a small, a read-only and a strict drive (one
# like Windows' system drive root) in the prefix.
add_executable(install_dir_tests ${CMAKE_CURRENT_LIST_DIR}/install_dir_test.cpp)
target_link_libraries(install_dir_tests PRIVATE test_support GTest::gtest_main)
# Gives tests/session/with_strict_drive.sh's drive a letter the running prefix lists.
add_executable(wine_drive ${CMAKE_SOURCE_DIR}/tools/wine_drive.cpp)
target_link_options(wine_drive PRIVATE -municode)
add_dependencies(install_dir_tests wine_drive)
add_test(NAME install_dir_tests
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/with_strict_drive.sh ${CMAKE_BINARY_DIR}
    bash ${CMAKE_CURRENT_LIST_DIR}/with_test_drives.sh ${CMAKE_BINARY_DIR}
    $<TARGET_FILE:install_dir_tests> --gtest_brief=1)
# The folder dialog is found by its title on the prefix's one desktop: only
# one test at a time may have one open. The lock also keeps the strict drive,
# which takes the default folder, away from the tests that expect it on C:.
set_tests_properties(install_dir_tests PROPERTIES RESOURCE_LOCK folder_dialog)
