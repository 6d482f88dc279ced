# Install rules of the native build: the shared library and its headers, the
# pkg-config and CMake package files, qx316, the CUPS filter and the PPDs.
#
#   cmake --install build/native                 (as root: the system's CUPS)
#   DESTDIR=/tmp/stage cmake --install build/native
#
# The CUPS folders come from cups-config and can be set apart from the
# prefix (CUPS looks for filters and PPDs in its own folders only):
#   -DQX316_CUPS_FILTER_DIR=...  -DQX316_CUPS_PPD_DIR=...
# Packages install the PPD compiler source instead of the PPDs, for CUPS's
# driver daemon to compile on demand:
#   -DQX316_CUPS_PPD_DIR=  -DQX316_CUPS_DRV_DIR=/usr/share/cups/drv
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QX316_PACKAGE_VERSION "${PROJECT_VERSION}" CACHE STRING "Version of the installed qxdro316 package")

find_program(QX_CUPS_CONFIG cups-config)
if(QX_CUPS_CONFIG)
  execute_process(COMMAND ${QX_CUPS_CONFIG} --serverbin OUTPUT_VARIABLE qx_cups_serverbin
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND ${QX_CUPS_CONFIG} --datadir OUTPUT_VARIABLE qx_cups_datadir
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
else()
  set(qx_cups_serverbin /usr/lib/cups)
  set(qx_cups_datadir /usr/share/cups)
endif()
set(QX316_CUPS_FILTER_DIR "${qx_cups_serverbin}/filter" CACHE PATH
    "Where the CUPS filter rastertoqx316 is installed (CUPS ServerBin/filter)")
set(QX316_CUPS_PPD_DIR "${qx_cups_datadir}/model/qx316" CACHE PATH
    "Where the model 316 PPDs are installed (under the CUPS model folder, for lpadmin -m qx316/...; empty: none)")
set(QX316_CUPS_DRV_DIR "" CACHE PATH "Where the PPD compiler source qx316.drv is installed (empty: not installed)")

# Programs find the library beside the prefix when the prefix's library
# folder is not one the loader searches anyway.
# (The compiler's own list holds the multiarch folders, /usr/lib/<triplet>.)
list(FIND CMAKE_PLATFORM_IMPLICIT_LINK_DIRECTORIES "${CMAKE_INSTALL_FULL_LIBDIR}" qx_libdir_is_system)
if(qx_libdir_is_system EQUAL -1)
  list(FIND CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES "${CMAKE_INSTALL_FULL_LIBDIR}" qx_libdir_is_system)
endif()
if(qx_libdir_is_system EQUAL -1)
  set(qx_install_rpath "${CMAKE_INSTALL_FULL_LIBDIR}")
else()
  set(qx_install_rpath "")
endif()

set(qx_program_permissions OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                           WORLD_EXECUTE)

# The library, with the name its users link against (libqxdro316.so is also
# its SONAME).
install(TARGETS qxdro316
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
        PERMISSIONS ${qx_program_permissions})
install(FILES ${CMAKE_SOURCE_DIR}/include/qxdro316.h ${CMAKE_SOURCE_DIR}/include/qxdro316_inner.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)

# pkg-config: the prefix is found from the .pc file's own folder, so a staged
# (DESTDIR) or moved tree works too.
set(qx_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH qx_pc_to_prefix "/prefix/${qx_pc_dir}" "/prefix")
set(QX_PC_PREFIX "\${pcfiledir}/${qx_pc_to_prefix}")
string(REGEX REPLACE "/$" "" QX_PC_PREFIX "${QX_PC_PREFIX}")
set(QX_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
set(QX_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/qxdro316.pc.in ${CMAKE_BINARY_DIR}/qxdro316.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/qxdro316.pc DESTINATION ${qx_pc_dir} COMPONENT development)

# CMake package: find_package(qxdro316) gives the imported target qxdro316::qxdro316.
set(qx_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/qxdro316)
file(RELATIVE_PATH QX_CMAKE_TO_PREFIX "/prefix/${qx_cmake_dir}" "/prefix")
configure_file(${CMAKE_CURRENT_LIST_DIR}/qxdro316Config.cmake.in ${CMAKE_BINARY_DIR}/qxdro316Config.cmake @ONLY)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/qxdro316ConfigVersion.cmake
                                 VERSION ${QX316_PACKAGE_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/qxdro316Config.cmake ${CMAKE_BINARY_DIR}/qxdro316ConfigVersion.cmake
        DESTINATION ${qx_cmake_dir} COMPONENT development)

if(TARGET qx316)
  set_target_properties(qx316 PROPERTIES INSTALL_RPATH "${qx_install_rpath}")
  install(TARGETS qx316 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
          PERMISSIONS ${qx_program_permissions})
endif()

# The CUPS driver. cupsd runs only filters that are owned by root and not
# writable by others: mode 0755 (the owner is whoever installs, root for a
# system install).
if(TARGET rastertoqx316)
  set_target_properties(rastertoqx316 PROPERTIES INSTALL_RPATH "${qx_install_rpath}")
  install(TARGETS rastertoqx316 RUNTIME DESTINATION ${QX316_CUPS_FILTER_DIR} COMPONENT cups
          PERMISSIONS ${qx_program_permissions})
endif()
if(TARGET qx316_ppds AND QX316_CUPS_PPD_DIR)
  install(DIRECTORY ${CMAKE_BINARY_DIR}/tools/cups/ppd/ppd/ DESTINATION ${QX316_CUPS_PPD_DIR} COMPONENT cups
          FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
          DIRECTORY_PERMISSIONS ${qx_program_permissions}
          FILES_MATCHING PATTERN "*.ppd")
endif()
# The built-in ink model's profiles, which the PPDs' QXInkProfile entries
# name relative to CUPS's profiles folder.
if(TARGET qx316_profiles)
  install(FILES ${QX316_PROFILES_BUILT} DESTINATION ${qx_cups_datadir}/profiles/qx316 COMPONENT cups)
endif()
if(TARGET qx316_ppds AND QX316_CUPS_DRV_DIR)
  install(FILES ${CMAKE_BINARY_DIR}/tools/cups/ppd/qx316.drv DESTINATION ${QX316_CUPS_DRV_DIR} COMPONENT cups)
endif()
