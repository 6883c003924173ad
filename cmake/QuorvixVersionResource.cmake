# quorvix_version_resource(TARGET)
# Gives a Windows executable its version record: the product's version in
# file and product version, US English with the Unicode code page, and the
# target's name as internal and original file name. Elsewhere nothing.
if(WIN32)
  enable_language(RC)
endif()

set(QUORVIX_VERSION_RC_IN "${CMAKE_CURRENT_LIST_DIR}/version.rc.in")

function(quorvix_version_resource target)
  if(NOT WIN32)
    return()
  endif()
  # "1.02.0019": major, minor and revision, as the numeric record wants them.
  string(REPLACE "." ";" parts "${QUORVIX_VERSION_TEXT}")
  list(GET parts 0 QUORVIX_RC_MAJOR)
  list(GET parts 1 QUORVIX_RC_MINOR)
  list(GET parts 2 QUORVIX_RC_REVISION)
  math(EXPR QUORVIX_RC_MAJOR "${QUORVIX_RC_MAJOR}")
  math(EXPR QUORVIX_RC_MINOR "${QUORVIX_RC_MINOR}")
  math(EXPR QUORVIX_RC_REVISION "${QUORVIX_RC_REVISION}")
  set(QUORVIX_RC_NAME "${target}")
  set(rc "${CMAKE_BINARY_DIR}/version-resources/${target}.rc")
  configure_file("${QUORVIX_VERSION_RC_IN}" "${rc}" @ONLY)
  target_sources(${target} PRIVATE "${rc}")
endfunction()
