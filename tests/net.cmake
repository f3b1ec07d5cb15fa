# Network and integrity: server documents, SHA-256, the HTTP client.
korval_test(integrity_tests net/integrity_test.cpp net/json_reader_test.cpp net/signature_test.cpp)
# A document signed by openssl, as the operators' tools sign, read from the sources.
target_compile_definitions(integrity_tests PRIVATE
  KORVAL_TEST_KEYS_DIR=L"Z:${CMAKE_SOURCE_DIR}/tests/keys")
# Remembers release numbers in HKCU, shared by the whole prefix.
set_tests_properties(integrity_tests PROPERTIES RESOURCE_LOCK user_registry)

# Puts the local test CA into a prefix's Root store.
add_executable(install_root_cert ${CMAKE_SOURCE_DIR}/tools/install_root_cert.cpp)
target_link_options(install_root_cert PRIVATE -municode)
target_link_libraries(install_root_cert PRIVATE crypt32)

# Programs that talk to the test content server: each gets a server of its own
# on the build's content port, so they take turns.
function(korval_server_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE test_support GTest::gtest_main)
  add_dependencies(${name} install_root_cert)
  add_test(NAME ${name}
    COMMAND bash ${CMAKE_SOURCE_DIR}/tools/with_content_server.sh ${CMAKE_BINARY_DIR}
      ${KORVAL_CONTENT_PORT} $<TARGET_FILE:${name}> --gtest_brief=1)
  set_tests_properties(${name} PROPERTIES RESOURCE_LOCK content_port)
endfunction()

if(KORVAL_CONTENT_HOST STREQUAL "localhost")
  korval_server_test(http_client_tests net/http_client_test.cpp)
else()
  message(STATUS "Content server tests need -DKORVAL_CONTENT_HOST=localhost; not built")
endif()
