# SPDX-License-Identifier: ISC
# ConfigureAtInstall.cmake - the install-time half of install_configured()
# (InstallHelpers.cmake); included by the generated install code.
#
# In: IC_TEMPLATE, IC_OUTPUT_DIR, IC_NAME, IC_DIR, IC_SUBDIR,
# IC_PROJECT_VERSION and IC_REL_<dir> (the configured GNUInstallDirs values),
# plus CMAKE_INSTALL_PREFIX as this installation has it. Writes the filled-in
# file under IC_OUTPUT_DIR, in a folder of its own for each destination so
# that installations to different places may run at once, and installs it.
# Everything else stays in function scope.

function(_configure_at_install)
	set(prefix "${CMAKE_INSTALL_PREFIX}")
	set(CMAKE_INSTALL_PREFIX "${prefix}")
	set(PROJECT_VERSION "${IC_PROJECT_VERSION}")
	foreach(d BINDIR SBINDIR LIBDIR INCLUDEDIR SYSCONFDIR DATAROOTDIR MANDIR DOCDIR)
		set(rel "${IC_REL_${d}}")
		if(IS_ABSOLUTE "${rel}")
			set(full "${rel}")
		elseif(d STREQUAL "SYSCONFDIR" AND prefix MATCHES "^/(usr/?)?$")
			set(full "/${rel}")
		elseif(d STREQUAL "SYSCONFDIR" AND prefix MATCHES "^/opt/")
			set(full "/${rel}${prefix}")
		elseif(prefix MATCHES "^/+$")
			set(full "/${rel}")
		else()
			set(full "${prefix}/${rel}")
		endif()
		set(CMAKE_INSTALL_FULL_${d} "${full}")
	endforeach()
	# PREFIX: the prefix itself, for places no GNUInstallDirs variable names
	# (systemd's units under lib/systemd/system).
	set(CMAKE_INSTALL_FULL_PREFIX "${prefix}")

	string(MD5 where "$ENV{DESTDIR}${prefix}")
	set(output "${IC_OUTPUT_DIR}/${where}/${IC_NAME}")
	configure_file("${IC_TEMPLATE}" "${output}" @ONLY)
	set(destination "${CMAKE_INSTALL_FULL_${IC_DIR}}")
	if(IC_SUBDIR)
		string(APPEND destination "/${IC_SUBDIR}")
	endif()
	file(INSTALL DESTINATION "${destination}" TYPE FILE FILES "${output}")
	set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
endfunction()

_configure_at_install()
