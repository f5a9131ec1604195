# Install rules and the Debian package (CPack, DEB generator).
#
# Layout under the prefix: bin/heliq, bin/heliqd, bin/HeliqAdminUtility (with Qt), the private
# shared libraries in lib/heliq, the database scripts in share/heliq/db, the report templates in
# share/heliq/templates, the web front end in share/heliq/web (installed by web/), the packaged
# configuration in share/heliq/heliq.toml (pristine copy) and /etc/heliq/heliq.toml, the systemd
# unit in /lib/systemd/system, the documentation in share/doc/heliq. /etc and /lib/systemd are
# absolute: the programs look for /etc/heliq/heliq.toml whatever the prefix. Stage with
# `DESTDIR=... cmake --install BUILD`; package with `cpack -G DEB` in BUILD (configure with
# -DCMAKE_INSTALL_PREFIX=/usr for that).

set(HELIQ_SYSTEMD_UNIT_DIR "/lib/systemd/system" CACHE PATH "Where the systemd unit is installed")
set(HELIQ_CONFIG_DIR "/etc/heliq")
set(HELIQ_STATE_DIR "/var/lib/heliq")
set(HELIQ_LOG_DIR "/var/log/heliq")
set(HELIQ_DOC_DIR "${CMAKE_INSTALL_DATADIR}/doc/heliq")

# A build folder looks like an installation to the programs: build/<folder>/<program> finds its
# scripts in ../share/heliq/db and the report templates in ../share/heliq/templates, which link
# to the sources.
file(MAKE_DIRECTORY "${PROJECT_BINARY_DIR}/share/heliq")
file(CREATE_LINK "${PROJECT_SOURCE_DIR}/db" "${PROJECT_BINARY_DIR}/share/heliq/db" SYMBOLIC)
file(CREATE_LINK "${PROJECT_SOURCE_DIR}/portal/report/templates"
  "${PROJECT_BINARY_DIR}/share/heliq/templates" SYMBOLIC)
# heliqd's default web root, share/heliq/web, is the front end's build output (web/dist) here; the
# web target installs that folder to share/heliq/web.
file(CREATE_LINK "${PROJECT_BINARY_DIR}/web/dist" "${PROJECT_BINARY_DIR}/share/heliq/web" SYMBOLIC)

# The libraries find each other beside themselves; the programs find them through
# CMAKE_INSTALL_RPATH.
set_target_properties(heliq_platform HlqServiceRequestMTS HeliqProcessMTS
  PROPERTIES INSTALL_RPATH "$ORIGIN")

# The installed configuration is the default one with its state moved to /var/lib/heliq and its
# log to /var/log/heliq, derived here so that the two never drift apart.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  "${PROJECT_SOURCE_DIR}/config/heliq.toml")
file(READ "${PROJECT_SOURCE_DIR}/config/heliq.toml" heliq_config)
foreach(expected IN ITEMS "install_dir = \".\"" "\"var/log/heliq.log\"" "\"sqlite:var/")
  string(FIND "${heliq_config}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "config/heliq.toml no longer holds ${expected}: update ${CMAKE_CURRENT_LIST_FILE}")
  endif()
endforeach()
string(REPLACE "install_dir = \".\"" "install_dir = \"${HELIQ_STATE_DIR}\"" heliq_config "${heliq_config}")
string(REPLACE "\"var/log/heliq.log\"" "\"${HELIQ_LOG_DIR}/heliq.log\"" heliq_config "${heliq_config}")
string(REPLACE "\"sqlite:var/" "\"sqlite:" heliq_config "${heliq_config}")
string(REPLACE "= \"var/" "= \"" heliq_config "${heliq_config}")
set(heliq_installed_config "${PROJECT_BINARY_DIR}/heliq.installed.toml")
file(WRITE "${heliq_installed_config}"
  "# Installed configuration of Heliq ${PROJECT_VERSION}: state (databases, mail pickup folder,\n"
  "# attachments, registry store, archive) under ${HELIQ_STATE_DIR}, the log under ${HELIQ_LOG_DIR}.\n"
  "# Secrets belong in /etc/heliq/heliqd.env (see docs/operations.md), not here.\n"
  "#\n${heliq_config}")

configure_file("${PROJECT_SOURCE_DIR}/deploy/heliqd.service.in"
  "${PROJECT_BINARY_DIR}/heliqd.service" @ONLY)

install(TARGETS heliq heliqd RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET HeliqAdminUtility)
  install(TARGETS HeliqAdminUtility RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(TARGETS heliq_platform HlqServiceRequestMTS HeliqProcessMTS
  LIBRARY DESTINATION ${HELIQ_INSTALL_LIBDIR})
install(DIRECTORY "${PROJECT_SOURCE_DIR}/db/" DESTINATION ${CMAKE_INSTALL_DATADIR}/heliq/db)
install(DIRECTORY "${PROJECT_SOURCE_DIR}/portal/report/templates/"
  DESTINATION ${CMAKE_INSTALL_DATADIR}/heliq/templates)
install(FILES "${heliq_installed_config}" DESTINATION ${CMAKE_INSTALL_DATADIR}/heliq
  RENAME heliq.toml)
install(FILES "${heliq_installed_config}" DESTINATION ${HELIQ_CONFIG_DIR} RENAME heliq.toml)
install(FILES "${PROJECT_BINARY_DIR}/heliqd.service" DESTINATION ${HELIQ_SYSTEMD_UNIT_DIR})

configure_file("${PROJECT_SOURCE_DIR}/deploy/debian/changelog.in"
  "${PROJECT_BINARY_DIR}/debian/changelog" @ONLY)
# gzip -n: no name and time stamp in the header, so the package builds reproducibly.
find_program(HELIQ_GZIP gzip REQUIRED)
execute_process(COMMAND "${HELIQ_GZIP}" -9nc "${PROJECT_BINARY_DIR}/debian/changelog"
  OUTPUT_FILE "${PROJECT_BINARY_DIR}/debian/changelog.gz" COMMAND_ERROR_IS_FATAL ANY)
install(FILES "${PROJECT_SOURCE_DIR}/README.md" "${PROJECT_SOURCE_DIR}/deploy/debian/copyright"
  "${PROJECT_BINARY_DIR}/debian/changelog.gz" DESTINATION ${HELIQ_DOC_DIR})
install(DIRECTORY "${PROJECT_SOURCE_DIR}/docs/" DESTINATION ${HELIQ_DOC_DIR})

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME heliq)
set(CPACK_PACKAGE_VENDOR "Heliq developers")
set(CPACK_PACKAGE_CONTACT "Heliq developers <heliq@example.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "customer-service desk back end")
set(CPACK_PACKAGE_DESCRIPTION
  "Heliq registers customers' questions, dispatches them to call-centre and\n"
  "support-centre engineers, escalates overdue requests and archives them.\n"
  "The package holds the HTTP host heliqd (a systemd service, enabled but not\n"
  "started), the command line heliq and the database scripts (SQLite by\n"
  "default, PostgreSQL by configuration).")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps resolves the private libraries from the staged tree, not from a system path.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
  "${PROJECT_BINARY_DIR}/platform" "${PROJECT_BINARY_DIR}/servicerequest"
  "${PROJECT_BINARY_DIR}/serviceprocess")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  "${PROJECT_SOURCE_DIR}/deploy/debian/conffiles" "${PROJECT_SOURCE_DIR}/deploy/debian/postinst"
  "${PROJECT_SOURCE_DIR}/deploy/debian/prerm" "${PROJECT_SOURCE_DIR}/deploy/debian/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
