# SPDX-License-Identifier: ISC
# LoadedModule.cmake - how a module that another program loads (the PAM
# module, the Dovecot quota backend) is linked.
#
# loaded_module_link(<target> <map>)
#   Links <target> by the C driver with no lib prefix added, libgcc linked
#   in statically, only the symbols of the version script <map> exported,
#   full RELRO, and unused sections dropped. The caller's folder also
#   empties CMAKE_CXX_IMPLICIT_LINK_LIBRARIES and _DIRECTORIES, so that no
#   C++ runtime comes with the C++ archives it links.
function(loaded_module_link target map)
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    LINKER_LANGUAGE C
    LINK_DEPENDS ${map})
  target_link_options(${target} PRIVATE
    -static-libgcc
    LINKER:--version-script=${map}
    LINKER:-z,relro
    LINKER:-z,now
    LINKER:--gc-sections)
endfunction()
