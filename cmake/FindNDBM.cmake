# SPDX-License-Identifier: ISC
# FindNDBM - the XSI ndbm interface from GDBM's compatibility library.
#
# Defines NDBM_FOUND and the imported target NDBM::NDBM (ndbm.h, gdbm_compat
# and gdbm, in that link order). Debian: apt-get install libgdbm-compat-dev.
# The libraries are linked by name from the folders where they were found, so
# a program linked with -static takes the archives; NDBM_STATIC_FOUND tells
# whether both archives are there.
find_path(NDBM_INCLUDE_DIR ndbm.h)
find_library(NDBM_COMPAT_LIBRARY gdbm_compat)
find_library(NDBM_GDBM_LIBRARY gdbm)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(NDBM
  REQUIRED_VARS NDBM_INCLUDE_DIR NDBM_COMPAT_LIBRARY NDBM_GDBM_LIBRARY
  REASON_FAILURE_MESSAGE "the ndbm interface is missing (on Debian: apt-get install libgdbm-compat-dev)")

if(NDBM_FOUND AND NOT TARGET NDBM::NDBM)
  get_filename_component(NDBM_COMPAT_DIR ${NDBM_COMPAT_LIBRARY} DIRECTORY)
  get_filename_component(NDBM_GDBM_DIR ${NDBM_GDBM_LIBRARY} DIRECTORY)
  if(EXISTS ${NDBM_COMPAT_DIR}/libgdbm_compat.a AND EXISTS ${NDBM_GDBM_DIR}/libgdbm.a)
    set(NDBM_STATIC_FOUND TRUE)
  else()
    set(NDBM_STATIC_FOUND FALSE)
  endif()
  add_library(NDBM::NDBM INTERFACE IMPORTED)
  target_include_directories(NDBM::NDBM INTERFACE ${NDBM_INCLUDE_DIR})
  target_link_directories(NDBM::NDBM INTERFACE ${NDBM_COMPAT_DIR} ${NDBM_GDBM_DIR})
  target_link_libraries(NDBM::NDBM INTERFACE gdbm_compat gdbm)
endif()
mark_as_advanced(NDBM_INCLUDE_DIR NDBM_COMPAT_LIBRARY NDBM_GDBM_LIBRARY)
