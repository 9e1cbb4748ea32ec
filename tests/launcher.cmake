# The installed launcher's own logic, with a stand-in for the program.
add_test(NAME launcher
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/launcher/test_launcher
            ${PROJECT_SOURCE_DIR}/scripts/terralux-launch)
set_tests_properties(launcher PROPERTIES LABELS unit)
