# The operators' side: the publishing tools' rules, the release folder, and
# nginx with the repository's configuration serving the real launcher.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

add_test(NAME ops_publish_tests
  COMMAND ${Python3_EXECUTABLE} -m unittest discover -s ${CMAKE_CURRENT_SOURCE_DIR}/ops
    -p "test_*.py")

# Builds a 32-bit launcher of its own (incrementally after the first run).
add_test(NAME ops_release_tests
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/ops/release_test.sh ${CMAKE_BINARY_DIR})

# nginx listens on the content port itself: the launcher of this build knows
# no other.
if(KORVAL_CONTENT_HOST STREQUAL "localhost")
  add_test(NAME ops_nginx_launcher_tests
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/ops/nginx_launcher_test.sh ${CMAKE_BINARY_DIR}
      ${KORVAL_CONTENT_PORT})
  set_tests_properties(ops_nginx_launcher_tests PROPERTIES
    RESOURCE_LOCK "content_port;launcher_mutex;user_registry")
endif()
