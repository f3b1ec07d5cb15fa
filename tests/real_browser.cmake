# The real launcher driving the real page: korval_launcher.exe under Wine with
# the real-browser runtime (tools/cef_real), Debian's Chromium behind it, the
# content server and samp.exe's stand-in (tests/real_browser/run.sh).
if(KORVAL_BUILD_PAGE AND KORVAL_CONTENT_HOST STREQUAL "localhost")
  # The player's hand in the launcher's folder dialog.
  add_executable(real_browser_pick_folder ${CMAKE_CURRENT_SOURCE_DIR}/real_browser/pick_folder.cpp)
  target_link_options(real_browser_pick_folder PRIVATE -municode)
  set_target_properties(real_browser_pick_folder PROPERTIES
    OUTPUT_NAME pick_folder RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/real_browser)
  add_test(NAME real_browser_tests
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/real_browser/run.sh ${CMAKE_BINARY_DIR} ${KORVAL_CONTENT_PORT})
  # The launcher's whole road: the content port, the single-instance mutex,
  # HKCU's launcher and SA-MP keys, as launcher_run_tests; and the folder
  # dialog, which the player's hand finds by its title.
  set_tests_properties(real_browser_tests PROPERTIES
    RESOURCE_LOCK "content_port;launcher_mutex;user_registry;folder_dialog" TIMEOUT 300)
endif()
