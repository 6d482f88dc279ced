# Tests of the CUPS driver with the real parts (native trees, not i386): the
# generated PPDs through cupstestppd and libcups, the install layout, the
# whole filter chain through cupsfilter, and a private cupsd on 127.0.0.1.
# The tools and the driver are built in tools/ (processed after tests/), so
# they are named here by target and path.
if(NOT QX_I386 AND QX_BUILD_TOOLS AND EXISTS ${CMAKE_SOURCE_DIR}/tools/cups/ppd/CMakeLists.txt)
  set(qx_cups_dir ${CMAKE_CURRENT_LIST_DIR})
  set(qx_ppd_dir ${CMAKE_BINARY_DIR}/tools/cups/ppd/ppd)
  set(qx_page_ps ${qx_cups_dir}/system_page.ps)

  # Every combination of every PPD, as libcups marks, constrains and
  # interprets it, against what the library prints as the filter resolves it.
  find_library(QX_SYSTEM_CUPS_LIBRARY cups)
  if(QX_SYSTEM_CUPS_LIBRARY)
    add_executable(system_ppd_options ${qx_cups_dir}/system_ppd_options.cpp)
    target_link_libraries(system_ppd_options PRIVATE qx316_cups_request ${QX_SYSTEM_CUPS_LIBRARY} qx_flags)
    # The PPD interfaces of libcups are marked deprecated; they are what the
    # raster filters in front of ours use.
    target_compile_options(system_ppd_options PRIVATE -Wno-deprecated-declarations)
    add_test(NAME cups_ppd_options COMMAND system_ppd_options ${qx_ppd_dir})
    set_tests_properties(cups_ppd_options PROPERTIES TIMEOUT 300)
  endif()

  if(EXISTS ${CMAKE_SOURCE_DIR}/tools/cups/rastertoqx316.cpp)
    set(qx_filter $<TARGET_FILE:rastertoqx316>)

    add_test(NAME cups_ppd_cupstestppd COMMAND ${qx_cups_dir}/system_ppd.sh ${qx_ppd_dir} ${qx_filter}
                                               ${CMAKE_BINARY_DIR}/tools/icc/profiles)
    set_tests_properties(cups_ppd_cupstestppd PROPERTIES TIMEOUT 120 SKIP_RETURN_CODE 77)

    if(QX_SANITIZERS)
      set(qx_sanitize 1)
    else()
      set(qx_sanitize 0)
    endif()
    add_test(NAME cups_install COMMAND ${qx_cups_dir}/system_install.sh ${CMAKE_BINARY_DIR} ${qx_sanitize}
                                       ${CMAKE_C_COMPILER})
    set_tests_properties(cups_install PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)

    add_test(NAME cups_filter_chain
             COMMAND ${qx_cups_dir}/system_cupsfilter.sh $<TARGET_FILE:qx316> ${qx_filter} ${qx_ppd_dir} ${qx_page_ps})
    set_tests_properties(cups_filter_chain PROPERTIES TIMEOUT 900 SKIP_RETURN_CODE 77)

    add_test(NAME cups_scheduler
             COMMAND ${qx_cups_dir}/system_cupsd.sh $<TARGET_FILE:qx316> ${qx_filter} ${qx_ppd_dir} ${qx_page_ps})
    # One private cupsd at a time in a tree; the port is picked at run time.
    set_tests_properties(cups_scheduler PROPERTIES TIMEOUT 600 SKIP_RETURN_CODE 77 RESOURCE_LOCK qx316_cupsd)
  else()
    message(STATUS "rastertoqx316 has no source yet: the CUPS chain tests are not registered")
  endif()
endif()
