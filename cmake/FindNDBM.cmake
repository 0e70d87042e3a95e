# FindNDBM - the XSI ndbm interface from GDBM's compatibility library.
#
# Defines NDBM_FOUND and the imported target NDBM::NDBM (ndbm.h, gdbm_compat
# and gdbm, in that link order). Debian: apt-get install libgdbm-compat-dev.
find_path(NDBM_INCLUDE_DIR ndbm.h)
find_library(NDBM_COMPAT_LIBRARY gdbm_compat)
find_library(NDBM_GDBM_LIBRARY gdbm)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(NDBM
  REQUIRED_VARS NDBM_INCLUDE_DIR NDBM_COMPAT_LIBRARY NDBM_GDBM_LIBRARY
  REASON_FAILURE_MESSAGE "the ndbm interface is missing (on Debian: apt-get install libgdbm-compat-dev)")

if(NDBM_FOUND AND NOT TARGET NDBM::NDBM)
  add_library(NDBM::NDBM INTERFACE IMPORTED)
  target_include_directories(NDBM::NDBM INTERFACE ${NDBM_INCLUDE_DIR})
  target_link_libraries(NDBM::NDBM INTERFACE ${NDBM_COMPAT_LIBRARY} ${NDBM_GDBM_LIBRARY})
endif()
mark_as_advanced(NDBM_INCLUDE_DIR NDBM_COMPAT_LIBRARY NDBM_GDBM_LIBRARY)
