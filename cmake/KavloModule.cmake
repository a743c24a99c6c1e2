# Each module gets an include root of its own, holding only its directory,
# so "#include "media/..."" resolves only in targets that link kavlo_media
# (directly or through a module that exports it). An include of a module a
# target does not depend on fails to build instead of linking by luck.
#
#   kavlo_include_root(<target> <module-dir> [SOURCE_ROOT <dir>] [FILES <f>...])
#
# The root is ${PROJECT_BINARY_DIR}/include/<target>/<module-dir>, a symbolic
# link to <SOURCE_ROOT>/<module-dir> (SOURCE_ROOT defaults to src/). With
# FILES, the directory holds links to just those files: a module can export
# a few headers through a target of their own.
function(kavlo_include_root target module)
  cmake_parse_arguments(ARG "" "SOURCE_ROOT" "FILES" ${ARGN})
  if(NOT ARG_SOURCE_ROOT)
    set(ARG_SOURCE_ROOT ${PROJECT_SOURCE_DIR}/src)
  endif()
  set(root ${PROJECT_BINARY_DIR}/include/${target})
  file(REMOVE_RECURSE ${root})
  if(ARG_FILES)
    file(MAKE_DIRECTORY ${root}/${module})
    foreach(f ${ARG_FILES})
      file(CREATE_LINK ${ARG_SOURCE_ROOT}/${module}/${f} ${root}/${module}/${f} SYMBOLIC)
    endforeach()
  else()
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${ARG_SOURCE_ROOT}/${module} ${root}/${module} SYMBOLIC)
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()
