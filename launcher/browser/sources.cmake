# The embedded browser host: runtime binding, client handlers, page bridge and
# the page server with its ZIP reader.
target_sources(korval_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/browser_client.cpp
  ${CMAKE_CURRENT_LIST_DIR}/browser_runtime.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cef_api.cpp
  ${CMAKE_CURRENT_LIST_DIR}/page_bridge.cpp
  ${CMAKE_CURRENT_LIST_DIR}/static_handler.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ui_request_rules.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ui_resource_handler.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ui_resource_server.cpp
)

# The page archive's reader: the project's own on zlib, or the real miniz.
set(KORVAL_MINIZ_DIR "" CACHE PATH "Folder with miniz.c and miniz.h; empty: the project's own ZIP reader")
if(KORVAL_MINIZ_DIR)
  target_sources(korval_core PRIVATE ${KORVAL_MINIZ_DIR}/miniz.c)
  target_include_directories(korval_core PUBLIC ${KORVAL_MINIZ_DIR})
  target_compile_definitions(korval_core PUBLIC KORVAL_USE_MINIZ)
else()
  target_sources(korval_core PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/zip_reader.cpp
    ${CMAKE_CURRENT_LIST_DIR}/zip_file_source.cpp)
  # Static zlib: the executables need no DLL beside them.
  target_link_libraries(korval_core PUBLIC z)
endif()
