# The readers of untrusted bytes, built natively with clang, AddressSanitizer
# and UndefinedBehaviorSanitizer (tools/fuzz.sh, tests/fuzz): their unit
# tests, and every fuzzer for a bounded time from its seed corpus. Any crash,
# leak, sanitizer report, failed property or hang fails the test.
set(KORVAL_NATIVE_DIR ${CMAKE_BINARY_DIR}/native)
set(KORVAL_FUZZ_SECONDS 30 CACHE STRING "Seconds each fuzzer runs in the test command")

set(page_archive "")
if(KORVAL_BUILD_PAGE)
  set(page_archive ${CMAKE_BINARY_DIR}/ui.zip)
endif()
add_test(NAME native_readers_build
  COMMAND ${CMAKE_COMMAND} -E env KORVAL_PAGE_ARCHIVE=${page_archive}
    bash ${CMAKE_SOURCE_DIR}/tools/fuzz.sh build ${KORVAL_NATIVE_DIR})
set_tests_properties(native_readers_build PROPERTIES FIXTURES_SETUP native_readers)

add_test(NAME native_reader_tests COMMAND ${KORVAL_NATIVE_DIR}/reader_tests --gtest_brief=1)
set_tests_properties(native_reader_tests PROPERTIES FIXTURES_REQUIRED native_readers)

foreach(target block_map multipart command_line file_index json_reader manifest page_message signature
    ui_request version_record zip_reader)
  add_test(NAME fuzz_${target}
    COMMAND bash ${CMAKE_SOURCE_DIR}/tools/fuzz.sh run ${KORVAL_NATIVE_DIR} ${target}
      ${KORVAL_FUZZ_SECONDS})
  set_tests_properties(fuzz_${target} PROPERTIES FIXTURES_REQUIRED native_readers)
endforeach()
