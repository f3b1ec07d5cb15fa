# Test programs of the embedded browser host. They drive the launcher's code
# against the stand-in runtime (tools/cef_stub) in real windows under Wine.

# Archives written by other ZIP writers: Python's zipfile and CMake's libarchive.
set(zip_fixtures ${CMAKE_BINARY_DIR}/bin/zip_fixtures)
add_custom_command(OUTPUT ${zip_fixtures}/python.zip ${zip_fixtures}/cmake.zip
  COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/browser/make_zip_fixtures.py ${zip_fixtures}
  COMMAND ${CMAKE_COMMAND} -E chdir ${zip_fixtures}/files
    ${CMAKE_COMMAND} -E tar cf ${zip_fixtures}/cmake.zip --format=zip
    hello.txt notes/long.txt empty.txt
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/browser/make_zip_fixtures.py
  VERBATIM)
add_custom_target(zip_fixtures DEPENDS ${zip_fixtures}/python.zip ${zip_fixtures}/cmake.zip)

korval_test(browser_unit_tests
  browser/zip_reader_test.cpp
  browser/page_text_test.cpp)
add_dependencies(browser_unit_tests zip_fixtures)

add_library(browser_test_support STATIC browser/stub_harness.cpp)
target_link_libraries(browser_test_support PUBLIC test_support)

# Built without resource 101: pages come from the fall-back archive.
korval_test(browser_runtime_tests
  browser/runtime_binding_test.cpp
  browser/browser_handlers_test.cpp
  browser/subprocess_test.cpp)
target_link_libraries(browser_runtime_tests PRIVATE browser_test_support)
add_dependencies(browser_runtime_tests cef_stub_full cef_stub_lacking korval zip_fixtures)

# Built with the real page archive as resource 101, as the launcher is.
if(KORVAL_BUILD_PAGE)
  korval_test(browser_page_tests
    browser/page_server_test.cpp
    browser/page_archive.rc)
  target_link_libraries(browser_page_tests PRIVATE browser_test_support)
  target_include_directories(browser_page_tests PRIVATE ${CMAKE_BINARY_DIR})
  set_source_files_properties(browser/page_archive.rc PROPERTIES
    OBJECT_DEPENDS ${CMAKE_BINARY_DIR}/ui.zip)
  add_dependencies(browser_page_tests cef_stub_full page_archive korval_launcher)
endif()
