# The interval log reader, built and replayed as the targets above are.
add_executable(fuzz_hlog_replay ${CMAKE_CURRENT_LIST_DIR}/hlog.cpp ${CMAKE_CURRENT_LIST_DIR}/replay.cpp)
target_link_libraries(fuzz_hlog_replay PRIVATE caplat_stat_lib)
add_test(NAME fuzz_hlog_corpus
  COMMAND fuzz_hlog_replay ${CMAKE_CURRENT_LIST_DIR}/corpus-hlog)
if(CAPLAT_FUZZ)
  add_executable(fuzz_hlog ${CMAKE_CURRENT_LIST_DIR}/hlog.cpp)
  target_link_libraries(fuzz_hlog PRIVATE caplat_stat_lib)
  target_compile_options(fuzz_hlog PRIVATE -fsanitize=fuzzer)
  target_link_options(fuzz_hlog PRIVATE -fsanitize=fuzzer)
endif()
