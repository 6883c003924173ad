# CLI11 for the cross build: the host's headers (header-only library).
include(${CMAKE_CURRENT_LIST_DIR}/QuorvixHostHeaders.cmake)
quorvix_host_headers(CLI11::CLI11 CLI/CLI.hpp)
