# Self-update: the version record, and whole update cycles with real launcher
# processes against the test content server.
if(KORVAL_CONTENT_HOST STREQUAL "localhost")
  add_executable(update_probe WIN32 update/update_probe.cpp)

  korval_server_test(update_tests update/version_record_test.cpp update/self_update_test.cpp
    update/short_write_test.cpp update/allocation_ceiling.cpp)
  add_dependencies(update_tests korval_launcher korval_launcher_keyed update_probe korval
    cef_stub_full hold_file scanner_stub)
  # Its launcher processes take the machine-wide single-instance lock too.
  set_tests_properties(update_tests PROPERTIES RESOURCE_LOCK "content_port;launcher_mutex;user_registry")
endif()
