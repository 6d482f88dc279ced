# rastertoqx316: the page loop as a static library (tests and the fuzz target
# drive it directly) and the filter program around it.
add_library(qx316_cupsfilter STATIC
  ${CMAKE_CURRENT_LIST_DIR}/filter_raster.cpp
  ${CMAKE_CURRENT_LIST_DIR}/filter_loop.cpp
  ${CMAKE_CURRENT_LIST_DIR}/filter_colour.cpp)
# The PPD interfaces of libcups are marked deprecated; they are what a
# driver's QXInkProfile entries are read with.
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/filter_colour.cpp PROPERTIES
                            COMPILE_OPTIONS -Wno-deprecated-declarations
                            COMPILE_DEFINITIONS QX316_CUPS_DATADIR="${CUPS_DATADIR}")
target_include_directories(qx316_cupsfilter PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${CUPS_INCLUDE_DIR})
target_link_libraries(qx316_cupsfilter PUBLIC qx316_cups_request qx316_colour ${CUPSIMAGE_LIBRARY} ${CUPS_LIBRARY} PRIVATE qx_flags)

add_executable(rastertoqx316 ${CMAKE_CURRENT_LIST_DIR}/rastertoqx316.cpp)
target_link_libraries(rastertoqx316 PRIVATE qx316_cupsfilter qx_flags)
# Installed by cmake/install.cmake (CUPS ServerBin/filter).
