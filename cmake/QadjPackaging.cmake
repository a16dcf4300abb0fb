# Debian packages, made with `cpack -G DEB` in the build folder (docs/deployment.md):
#   qadj-platform   the platform core library (text, profile strings, object runtime
#                   and its gRPC transport), shared by the two below
#   qadj-vsd        the plug-in, the platform widgets library, mis-host, the sample
#                   settings file; the window's fonts as dependencies
#   qadj-appserver  the daemon, its systemd unit, user declaration and environment file
# Each package's other dependencies are computed by dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME qadj-vsd)
set(CPACK_PACKAGE_VENDOR "qadj_vsd developers")
set(CPACK_PACKAGE_CONTACT "qadj_vsd developers <qadj-vsd@korvanta.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
set(CPACK_COMPONENTS_ALL platform vsd appserver appserver-system)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE qadj-vsd)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/platform)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_QADJ-PLATFORM_PACKAGE_NAME qadj-platform)
set(CPACK_DEBIAN_QADJ-PLATFORM_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_QADJ-VSD_PACKAGE_NAME qadj-vsd)
set(QADJ_PLATFORM_DEPENDS "qadj-platform (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_QADJ-VSD_PACKAGE_DEPENDS
    "${QADJ_PLATFORM_DEPENDS}, fonts-wqy-zenhei | fonts-wqy-microhei")
set(CPACK_DEBIAN_QADJ-APPSERVER_PACKAGE_NAME qadj-appserver)
set(CPACK_DEBIAN_QADJ-APPSERVER_PACKAGE_SECTION net)
set(CPACK_DEBIAN_QADJ-APPSERVER_PACKAGE_DEPENDS "${QADJ_PLATFORM_DEPENDS}, systemd")
set(APPSERVER_CONTROL ${CMAKE_SOURCE_DIR}/deploy/debian/qadj-appserver)
set(CPACK_DEBIAN_QADJ-APPSERVER_PACKAGE_CONTROL_EXTRA
    ${APPSERVER_CONTROL}/postinst ${APPSERVER_CONTROL}/prerm ${APPSERVER_CONTROL}/postrm
    ${APPSERVER_CONTROL}/conffiles)

set(CPACK_DEBIAN_QADJ-PLATFORM_DESCRIPTION "qadj_vsd platform core library
The text conversions, settings, object runtime and remote object transport
shared by the quota-adjustment plug-in and its application server.")
set(CPACK_DEBIAN_QADJ-VSD_DESCRIPTION "quota-adjustment plug-in of the distribution application
Lets an operator move part of a visit-salesperson's sales quota of a product
to colleagues of the same warehouse. Holds the plug-in, its host program
mis-host and a sample settings file.")
set(CPACK_DEBIAN_QADJ-APPSERVER_DESCRIPTION "qadj_vsd application server
Serves the quota data to the plug-ins on the operators' computers over gRPC,
from SQLite or PostgreSQL, as a systemd service. Installing it enables and
starts nothing: see /usr/share/doc/qadj_vsd/deployment.md.")

include(CPack)

cpack_add_component_group(qadj-platform)
cpack_add_component_group(qadj-vsd)
cpack_add_component_group(qadj-appserver)
cpack_add_component(platform GROUP qadj-platform)
cpack_add_component(vsd GROUP qadj-vsd DEPENDS platform)
cpack_add_component(appserver GROUP qadj-appserver DEPENDS platform)
cpack_add_component(appserver-system GROUP qadj-appserver DEPENDS platform)

# The copyright and changelog every package carries in /usr/share/doc/PACKAGE/.
configure_file(${CMAKE_SOURCE_DIR}/deploy/debian/changelog ${CMAKE_BINARY_DIR}/debian/changelog
               @ONLY)
execute_process(COMMAND gzip -9nkf ${CMAKE_BINARY_DIR}/debian/changelog)
foreach(pair "platform;qadj-platform" "vsd;qadj-vsd" "appserver;qadj-appserver")
  list(GET pair 0 component)
  list(GET pair 1 package)
  install(FILES ${CMAKE_SOURCE_DIR}/deploy/debian/copyright ${CMAKE_BINARY_DIR}/debian/changelog.gz
          DESTINATION share/doc/${package} COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()

# The manual pages, with the project's version, in share/man/ of the package of their
# program.
foreach(page "qadj-appserver.8;appserver" "mis-host.1;vsd")
  list(GET page 0 name)
  list(GET page 1 component)
  string(REGEX REPLACE ".*\\.([0-9])$" "\\1" section ${name})
  configure_file(${CMAKE_SOURCE_DIR}/deploy/man/${name} ${CMAKE_BINARY_DIR}/man/${name} @ONLY)
  execute_process(COMMAND gzip -9nkf ${CMAKE_BINARY_DIR}/man/${name})
  install(FILES ${CMAKE_BINARY_DIR}/man/${name}.gz DESTINATION share/man/man${section}
          COMPONENT ${component})
endforeach()
