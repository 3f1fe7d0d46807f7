# The layers are enforced by the include path. No target sees the source tree as a whole: a
# layer's folder can be included (as "layer/File.h") only through a target that links the
# layer's target, whose include folder in the build tree holds just a link to that one source
# folder. A PRIVATE link therefore stops the folder at the linking target, and an upward include
# does not compile. A folder may be nested ("host/session"): its link then stands at the same
# depth, so that only that folder, and not its parent, is seen.
function(kx7_layer target scope folder)
  set(root ${CMAKE_BINARY_DIR}/layers/${folder})
  if(NOT IS_SYMLINK ${root}/${folder})
    get_filename_component(parent ${root}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  target_include_directories(${target} ${scope} ${root})
endfunction()
