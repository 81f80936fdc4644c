# Helpers that make one test executable per tested class.
include(GoogleTest)
find_package(GTest REQUIRED)

# vorn_add_gtest(<name> <source>...): a GoogleTest executable linked with the core and the tests'
# support.
function(vorn_add_gtest name)
    add_executable(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE vorn_core vorn_test_support vorn_options GTest::gtest
                                          GTest::gtest_main)
    # A parameterized case is named by its suite's name generator alone, never by a dump of its
    # parameter, so that every name reads the same from run to run.
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST NO_PRETTY_VALUES
                         PROPERTIES ENVIRONMENT "VORN_TEST_DATA=${PROJECT_SOURCE_DIR}/tests/data")
endfunction()

# vorn_add_qttest(<name> SOURCES <source>... LIBS <lib>... [XVFB]): a QtTest executable run on
# the offscreen platform, or under a real X server (xvfb-run) with XVFB.
function(vorn_add_qttest name)
    cmake_parse_arguments(ARG "XVFB" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    set_target_properties(${name} PROPERTIES AUTOMOC ON AUTOUIC ON)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} vorn_test_support vorn_options Qt6::Test
                                          Qt6::Widgets)
    if(ARG_XVFB)
        add_test(NAME ${name}
                 COMMAND xvfb-run -a -s "-screen 0 1280x1024x24" $<TARGET_FILE:${name}>)
        # One at a time: two xvfb-run -a started together can pick the same free display, and
        # then one of the servers does not start.
        set_tests_properties(${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=xcb" LABELS xvfb
                                                RESOURCE_LOCK xvfb)
    else()
        add_test(NAME ${name} COMMAND ${name})
        set_tests_properties(${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
    endif()
endfunction()
