# Tests of the interval log codec, reader and merge.
add_executable(hlog_tests ${CMAKE_CURRENT_LIST_DIR}/hlog_test.cpp)
target_link_libraries(hlog_tests PRIVATE caplat_stat_lib GTest::gtest_main)
gtest_discover_tests(hlog_tests)
add_test(NAME hlog_java COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/hlog_java.sh $<TARGET_FILE:caplat-stat>)
set_tests_properties(hlog_java PROPERTIES SKIP_RETURN_CODE 77)
add_test(NAME hlog_cli COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/hlog_cli.sh $<TARGET_FILE:caplat-stat> ${CMAKE_CURRENT_LIST_DIR})
