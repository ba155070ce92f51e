# add_unit_test(NAME name SOURCES ... LIBS ... LABELS ...)
# Builds one GoogleTest executable over the shared test main (which sets up the
# headless Qt environment itself, so discovery and IDE runs behave alike) and
# registers its cases with CTest under the given labels (unit, gui, net, browser).
function(add_unit_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  # Only tests of the window side get the widget test main.
  set(main signetrix_testmain_core)
  foreach(lib Qt6::Widgets signetrix_app signetrix_browser)
    if(lib IN_LIST T_LIBS)
      set(main signetrix_testmain_gui)
    endif()
  endforeach()
  target_link_libraries(${T_NAME} PRIVATE ${main} ${T_LIBS})
  gtest_discover_tests(${T_NAME}
    DISCOVERY_TIMEOUT 120
    DISCOVERY_MODE PRE_TEST
    TEST_LIST ${T_NAME}_TESTS
    PROPERTIES TIMEOUT 300)
  # Labels are set after discovery: gtest_discover_tests keeps only the first
  # item of a list given through PROPERTIES.
  set(labels_file "${CMAKE_CURRENT_BINARY_DIR}/${T_NAME}_labels.cmake")
  file(WRITE "${labels_file}"
    "foreach(test IN LISTS ${T_NAME}_TESTS)\n"
    "  set_tests_properties(\"\${test}\" PROPERTIES LABELS \"${T_LABELS}\")\n"
    "endforeach()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${labels_file}")
endfunction()

# A test or benchmark program that starts the real maker's server through
# tests/server/web/ServerProcess.cpp: the server's path, the source folder and
# the build's deployment values the server takes by default.
function(signetrix_use_test_server TARGET_NAME)
  if(NOT "${TARGET_NAME}" STREQUAL "test_server_web")
    target_sources(${TARGET_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests/server/web/ServerProcess.cpp)
  endif()
  target_compile_definitions(${TARGET_NAME} PRIVATE
    SIGNETRIX_SERVER_EXE="$<TARGET_FILE:signetrix_server>" SIGNETRIX_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    SIGNETRIX_TEST_FTP_USER="${SIGNETRIX_FTP_USER}" SIGNETRIX_TEST_FTP_PASSWORD="${SIGNETRIX_FTP_PASSWORD}"
    SIGNETRIX_TEST_BACKUP_FOLDER="${SIGNETRIX_BACKUP_FOLDER}")
  add_dependencies(${TARGET_NAME} signetrix_server)
endfunction()
