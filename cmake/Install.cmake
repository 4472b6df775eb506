# cmake --install: the library with its SONAME links, the headers (the
# interface and the host contract), the reference host layer, the logbase
# tool and its manual page, a CMake package and pkg-config files.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set_target_properties(logbase_host PROPERTIES EXPORT_NAME host)
install(TARGETS logbase logbase_host EXPORT logbaseTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES include/logbase.h include/logbase_host.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS logbase_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES docs/logbase.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/logbase)
install(EXPORT logbaseTargets NAMESPACE logbase:: DESTINATION ${config_dir})
configure_package_config_file(cmake/logbaseConfig.cmake.in
    ${PROJECT_BINARY_DIR}/logbaseConfig.cmake INSTALL_DESTINATION ${config_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/logbaseConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/logbaseConfig.cmake
              ${PROJECT_BINARY_DIR}/logbaseConfigVersion.cmake
        DESTINATION ${config_dir})

# The pkg-config files locate the prefix from their own folder, so the tree
# works wherever `cmake --install --prefix` put it.
file(RELATIVE_PATH pc_to_prefix /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" pc_to_prefix "${pc_to_prefix}")
set(PC_PREFIX "\${pcfiledir}/${pc_to_prefix}")
foreach(pc logbase logbase-host)
    configure_file(cmake/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
