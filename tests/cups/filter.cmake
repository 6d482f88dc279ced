# rastertoqx316 on rasters written with libcups (native trees, where the
# filter is built): valid pages read back with the stream decoder, hostile
# rasters, cancel and write errors, and how job options are read. tests/ is
# read before tools/, so the filter's targets are not defined yet here: they
# are named, and CMake resolves them when it generates the build.
if(NOT QX_I386 AND QX_BUILD_TOOLS AND EXISTS ${CMAKE_SOURCE_DIR}/tools/cups/filter.cmake)
  find_library(QX_TEST_CUPS_LIBRARY cups REQUIRED)
  add_executable(cups_filter_test
    ${CMAKE_CURRENT_LIST_DIR}/filter_support.cpp
    ${CMAKE_CURRENT_LIST_DIR}/filter_pages_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/filter_hostile_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/filter_options_test.cpp)
  target_include_directories(cups_filter_test PRIVATE ${CMAKE_CURRENT_LIST_DIR})
  target_compile_definitions(cups_filter_test PRIVATE QX_FILTER_PATH="$<TARGET_FILE:rastertoqx316>")
  # The printer application's IPP choices (its PAPPL-free part) are the
  # reference for the filter's print-quality and print-color-mode choices.
  target_link_libraries(cups_filter_test PRIVATE qx316_cupsfilter qx316_stream qx316_printer_app_core GTest::gtest_main
                        qx_flags)
  add_dependencies(cups_filter_test rastertoqx316)
  add_test(NAME cups_filter_test COMMAND cups_filter_test --gtest_brief=1)
  set_tests_properties(cups_filter_test PROPERTIES TIMEOUT 600)
endif()
