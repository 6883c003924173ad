# `cmake --install` of a build into an empty folder: exactly the expected
# files, the programs executable, each PNG icon of the size its folder names.
#   cmake -DBUILD_DIR=... -DPREFIX=... -P InstallTree.cmake
foreach(var BUILD_DIR PREFIX)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                OUTPUT_VARIABLE out ERROR_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${rc}):\n${out}")
endif()

set(icon_sizes 16 22 24 32 48 64 128 256)
set(expected
  bin/quorvix-audit
  bin/quorvix-scan
  share/applications/quorvix-audit.desktop
  share/doc/quorvix-audit/README.md
  share/doc/quorvix-audit/changelog.gz
  share/doc/quorvix-audit/copyright
  share/doc/quorvix-audit/domain-file.md
  share/doc/quorvix-audit/samba.md
  share/icons/hicolor/scalable/apps/quorvix-audit.svg
  share/man/man1/quorvix-audit.1.gz
  share/man/man1/quorvix-scan.1.gz)
foreach(size IN LISTS icon_sizes)
  list(APPEND expected share/icons/hicolor/${size}x${size}/apps/quorvix-audit.png)
endforeach()
list(SORT expected)

file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE "${PREFIX}" "${PREFIX}/*")
list(SORT installed)
if(NOT installed STREQUAL expected)
  set(missing ${expected})
  if(installed)
    list(REMOVE_ITEM missing ${installed})
  endif()
  set(extra ${installed})
  list(REMOVE_ITEM extra ${expected})
  message(FATAL_ERROR "installed files differ\n  missing: ${missing}\n  unexpected: ${extra}")
endif()

foreach(program quorvix-audit quorvix-scan)
  execute_process(COMMAND test -x "${PREFIX}/bin/${program}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "bin/${program} is not executable")
  endif()
endforeach()

# A PNG's width and height are the big-endian words at bytes 16 and 20.
foreach(size IN LISTS icon_sizes)
  set(png "${PREFIX}/share/icons/hicolor/${size}x${size}/apps/quorvix-audit.png")
  file(READ "${png}" header LIMIT 24 HEX)
  string(SUBSTRING "${header}" 0 16 signature)
  string(SUBSTRING "${header}" 32 8 width)
  string(SUBSTRING "${header}" 40 8 height)
  math(EXPR width "0x${width}")
  math(EXPR height "0x${height}")
  if(NOT signature STREQUAL "89504e470d0a1a0a" OR NOT width EQUAL size OR NOT height EQUAL size)
    message(FATAL_ERROR "${png}: not a ${size} x ${size} PNG (${width} x ${height})")
  endif()
endforeach()

# Compressed pages and change log are gzip files.
foreach(file share/man/man1/quorvix-audit.1.gz share/man/man1/quorvix-scan.1.gz
             share/doc/quorvix-audit/changelog.gz)
  file(READ "${PREFIX}/${file}" magic LIMIT 2 HEX)
  if(NOT magic STREQUAL "1f8b")
    message(FATAL_ERROR "${file} is not gzip-compressed")
  endif()
endforeach()
file(REMOVE_RECURSE "${PREFIX}")
