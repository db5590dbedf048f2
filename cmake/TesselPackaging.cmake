# Debian packages of the install components (TesselInstall.cmake):
#   libtessel<major>  runtime: libkora and libtessel
#   libtessel-dev     headers, CMake package, pkg-config files
#   tessel-tools      tesseld, tesselctl, factory file, systemd unit, bash completion
# Built from a tree configured with -DCMAKE_INSTALL_PREFIX=/usr (the paths
# tesseld and its unit carry are the configured ones): .ci/package.
set(CPACK_PACKAGE_NAME tessel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "tessel maintainers <tessel@example.org>")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL runtime dev tools)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps finds our own libraries in the build tree; the packages'
# dependency on them is the component dependency (same version).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/framework
                                                ${PROJECT_BINARY_DIR}/libraries/tessel)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libtessel${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# A shlibs file, so that packages built against these libraries depend on them.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "router configuration and status database - shared libraries
libtessel holds the item classes, the protocol, the client and the server that
the processes of the device share; libkora, under it, carries serialization,
reference-counted objects and messaging between processes.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libtessel-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libjsoncpp-dev")
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
set(CPACK_COMPONENT_DEV_DESCRIPTION
    "router configuration and status database - development files
Headers, the CMake package (find_package(tessel): tessel::tessel, kora::kora)
and the pkg-config files (tessel, kora).")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME tessel-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION admin)
set(CPACK_COMPONENT_TOOLS_DEPENDS runtime)
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
    "router configuration and status database - data server and command line
tesseld, the data server over SQLite, with its factory configuration and a
systemd unit; tesselctl, which shows and changes what it holds.")
set(TESSEL_DEB_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/deb/tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_CONTROL_EXTRA
    ${TESSEL_DEB_SCRIPTS}/postinst ${TESSEL_DEB_SCRIPTS}/prerm ${TESSEL_DEB_SCRIPTS}/postrm)
set(CPACK_DEBIAN_TOOLS_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
cpack_add_component(runtime DISPLAY_NAME "Shared libraries")
cpack_add_component(dev DISPLAY_NAME "Development files" DEPENDS runtime)
cpack_add_component(tools DISPLAY_NAME "Data server and command line" DEPENDS runtime)
