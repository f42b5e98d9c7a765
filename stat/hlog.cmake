# Interval logs in HdrHistogram's format, which need zlib.
find_package(ZLIB REQUIRED)
target_sources(caplat_stat_lib PRIVATE ${CMAKE_CURRENT_LIST_DIR}/hlog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hlog_codec.cpp)
target_link_libraries(caplat_stat_lib PUBLIC ZLIB::ZLIB)
