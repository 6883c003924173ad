# nlohmann-json for the cross build: the host's headers (header-only library).
include(${CMAKE_CURRENT_LIST_DIR}/QuorvixHostHeaders.cmake)
quorvix_host_headers(nlohmann_json::nlohmann_json nlohmann/json.hpp)
