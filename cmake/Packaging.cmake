# SPDX-License-Identifier: ISC
# Packaging.cmake - the Debian package, made by cpack -G DEB from the same
# install rules as cmake --install.
#
# The package installs into /usr with the login hook in /etc/profile.d (a
# conffile). Configure with -DCMAKE_INSTALL_PREFIX=/usr for the multiarch
# library directory. Dependencies come from dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME spoolnag)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The licence; the package carries it as share/doc/spoolnag/copyright.
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "warns users whose system mailbox is over the site's size limit")
# Lines as dpkg shows them, each under 80 columns.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "spoolnag tells a user at login that their mailbox in /var/mail has grown"
  "over the size limit the site sets in /var/mail/.boxquota, and that no more"
  "mail will be delivered until it is smaller."
  ""
  "The package also carries libboxquota, a static C library with the same"
  "limit rule, with its header, pkg-config file and CMake package, so that a"
  "mail delivery agent can refuse mail for a full mailbox by the same rule.")
if(TARGET pwdb)
  string(APPEND CPACK_PACKAGE_DESCRIPTION "\n\n"
    "pwdb builds and checks the hashed password database that spoolnag reads"
    "\nin place of /etc/passwd when it exists.")
endif()
# Install for prefix /usr into the staging tree through DESTDIR, whatever
# prefix the build was configured with: the hook lands in /etc (outside the
# prefix) and the files written at install time name /usr.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(SPOOLNAG_MAINTAINER "spoolnag maintainers <root@localhost>" CACHE STRING
  "Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${SPOOLNAG_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)

# dpkg keeps local edits of these over upgrades. With prefix /usr a relative
# sysconfdir sits under / (etc: /etc), as ConfigureAtInstall.cmake places it.
if(IS_ABSOLUTE "${CMAKE_INSTALL_SYSCONFDIR}")
  set(_deb_sysconfdir "${CMAKE_INSTALL_SYSCONFDIR}")
else()
  set(_deb_sysconfdir "/${CMAKE_INSTALL_SYSCONFDIR}")
endif()
file(WRITE ${PROJECT_BINARY_DIR}/deb/conffiles "${_deb_sysconfdir}/profile.d/spoolnag.sh\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/deb/conffiles)
# The PAM module's profile leaves the PAM stacks with the package.
if(TARGET pam_spoolnag)
  list(APPEND CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/pam/prerm)
  string(APPEND CPACK_PACKAGE_DESCRIPTION "\n\n"
    "pam_spoolnag shows the same warning through PAM at every login, whatever"
    "\nthe user's shell; enable it with pam-auth-update --enable spoolnag.")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

include(CPack)
