# What `cmake --install` puts where a distribution expects it (GNUInstallDirs):
#   runtime  lib/libkora.so.0, lib/libtessel.so.0 (SONAME by the major version)
#   dev      headers, the .so links, lib/cmake/tessel (tesselConfig.cmake, version
#            file, exported targets tessel::tessel and kora::kora), lib/pkgconfig
#   tools    tesseld, tesselctl, the factory file, the systemd unit (tools/)
# The components are also the Debian packages (TesselPackaging.cmake).
include(CMakePackageConfigHelpers)

set(TESSEL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tessel)

foreach(lib kora tessel)
    install(TARGETS ${lib} EXPORT ${lib}Targets
            LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
            INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
    install(EXPORT ${lib}Targets NAMESPACE ${lib}:: DESTINATION ${TESSEL_CMAKE_DIR}
            COMPONENT dev)
endforeach()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/framework/include/kora
                  ${PROJECT_SOURCE_DIR}/libraries/tessel/include/tessel
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/tesselConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/tesselConfig.cmake
                              INSTALL_DESTINATION ${TESSEL_CMAKE_DIR})
# 0.x releases keep the SONAME's major version: same major, same ABI.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tesselConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/tesselConfig.cmake
              ${PROJECT_BINARY_DIR}/tesselConfigVersion.cmake
        DESTINATION ${TESSEL_CMAKE_DIR} COMPONENT dev)

# pkg-config files that find the tree they are installed in, wherever it was
# put (pkg-config sets ${pcfiledir}).
set(TESSEL_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
    set(TESSEL_PC_PREFIX "")
    set(TESSEL_PC_LIBDIR ${CMAKE_INSTALL_LIBDIR})
    set(TESSEL_PC_INCLUDEDIR ${CMAKE_INSTALL_FULL_INCLUDEDIR})
else()
    file(RELATIVE_PATH TESSEL_PC_PREFIX /${TESSEL_PC_DIR} /)
    string(REGEX REPLACE "/$" "" TESSEL_PC_PREFIX "${TESSEL_PC_PREFIX}")
    set(TESSEL_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
    set(TESSEL_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
foreach(pc kora tessel)
    configure_file(${CMAKE_CURRENT_LIST_DIR}/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc DESTINATION ${TESSEL_PC_DIR} COMPONENT dev)
endforeach()
