# SPDX-License-Identifier: ISC
# InstallHelpers.cmake - install rules shared by the modules.
#
# install_man_page(<page>)
#   Compresses the mdoc page <page> (a file name.section, its path relative to
#   the calling CMakeLists.txt) with gzip -9n at build time and installs it into
#   ${CMAKE_INSTALL_MANDIR}/man<section>, as Debian expects.
#
# install_configured(<template> <dir> <subdir>)
#   Installs <template> less its .in suffix into the GNUInstallDirs directory
#   <dir> (BINDIR, LIBDIR, SYSCONFDIR, ..., or PREFIX for the prefix itself)
#   plus <subdir>. The @VAR@ references
#   (CMAKE_INSTALL_PREFIX, CMAKE_INSTALL_FULL_<dir>, PROJECT_VERSION) are
#   filled in at install time from the prefix actually installed to, so
#   cmake --install --prefix and CPack get paths that match where the files
#   land. SYSCONFDIR follows the GNUInstallDirs rule: /etc for the prefixes /
#   and /usr, /etc/opt/... for /opt/...; DESTDIR is honoured.
include_guard(GLOBAL)
include(GNUInstallDirs)

find_program(GZIP_PROGRAM gzip REQUIRED)

function(install_man_page page)
	get_filename_component(name "${page}" NAME)
	get_filename_component(section "${name}" LAST_EXT)
	string(SUBSTRING "${section}" 1 -1 section)
	set(source "${CMAKE_CURRENT_SOURCE_DIR}/${page}")
	set(packed "${CMAKE_CURRENT_BINARY_DIR}/man/${name}.gz")
	add_custom_command(OUTPUT "${packed}"
		COMMAND "${CMAKE_COMMAND}" -E make_directory "${CMAKE_CURRENT_BINARY_DIR}/man"
		COMMAND "${GZIP_PROGRAM}" -9nc "${source}" > "${packed}"
		DEPENDS "${source}"
		COMMENT "Compressing manual page ${name}"
		VERBATIM)
	add_custom_target("man-${name}" ALL DEPENDS "${packed}")
	install(FILES "${packed}" DESTINATION "${CMAKE_INSTALL_MANDIR}/man${section}")
endfunction()

set(_install_helpers_script "${CMAKE_CURRENT_LIST_DIR}/ConfigureAtInstall.cmake")

function(install_configured template dir subdir)
	string(REGEX REPLACE "\\.in$" "" name "${template}")
	set(code "set(IC_TEMPLATE [[${CMAKE_CURRENT_SOURCE_DIR}/${template}]])\n")
	string(APPEND code "set(IC_OUTPUT_DIR [[${CMAKE_CURRENT_BINARY_DIR}/installed]])\nset(IC_NAME [[${name}]])\n")
	string(APPEND code "set(IC_DIR ${dir})\nset(IC_SUBDIR [[${subdir}]])\n")
	string(APPEND code "set(IC_PROJECT_VERSION [[${PROJECT_VERSION}]])\n")
	foreach(d BINDIR SBINDIR LIBDIR INCLUDEDIR SYSCONFDIR DATAROOTDIR MANDIR DOCDIR)
		string(APPEND code "set(IC_REL_${d} [[${CMAKE_INSTALL_${d}}]])\n")
	endforeach()
	string(APPEND code "include([[${_install_helpers_script}]])\n")
	install(CODE "${code}")
endfunction()
