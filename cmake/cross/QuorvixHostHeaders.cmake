# quorvix_host_headers(TARGET HEADER)
# Makes an interface target for a header-only library installed on the host:
# a folder of the build tree links to the folder holding HEADER, so the cross
# compiler sees that library's headers and nothing else of the host.
function(quorvix_host_headers target header)
  if(TARGET ${target})
    return()
  endif()
  get_filename_component(top "${header}" DIRECTORY)  # e.g. nlohmann or CLI
  find_path(QUORVIX_HOST_HEADER_DIR NAMES ${header} PATHS /usr/include /usr/local/include
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT QUORVIX_HOST_HEADER_DIR)
    message(FATAL_ERROR "${header} not found on the host")
  endif()
  string(MAKE_C_IDENTIFIER "${target}" stage_name)
  set(stage "${CMAKE_BINARY_DIR}/host-headers/${stage_name}")
  file(MAKE_DIRECTORY "${stage}")
  file(CREATE_LINK "${QUORVIX_HOST_HEADER_DIR}/${top}" "${stage}/${top}" SYMBOLIC)
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${stage}")
  unset(QUORVIX_HOST_HEADER_DIR CACHE)
endfunction()
