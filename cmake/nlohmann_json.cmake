# nlohmann-json (header-only, Debian: nlohmann-json3-dev) as the target
# nlohmann_json::nlohmann_json. A cross build takes the same headers: they
# include the standard library only. They are reached through a folder of
# their own, as putting the host's /usr/include on a cross compiler's path
# would hide the target's C library behind the host's.
if(CMAKE_CROSSCOMPILING)
  find_path(KORVEL_NLOHMANN_JSON_DIR nlohmann/json.hpp PATHS /usr/include
    NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH)
  if(NOT KORVEL_NLOHMANN_JSON_DIR)
    message(FATAL_ERROR "nlohmann/json.hpp was not found. Install it (Debian: apt-get install "
      "nlohmann-json3-dev, or run scripts/setup).")
  endif()
  set(KORVEL_HEADER_ONLY_DIR ${CMAKE_BINARY_DIR}/header-only)
  file(MAKE_DIRECTORY ${KORVEL_HEADER_ONLY_DIR})
  file(CREATE_LINK ${KORVEL_NLOHMANN_JSON_DIR}/nlohmann ${KORVEL_HEADER_ONLY_DIR}/nlohmann SYMBOLIC)
  add_library(korvel_nlohmann_json INTERFACE)
  target_include_directories(korvel_nlohmann_json SYSTEM INTERFACE ${KORVEL_HEADER_ONLY_DIR})
  add_library(nlohmann_json::nlohmann_json ALIAS korvel_nlohmann_json)
else()
  find_package(nlohmann_json 3 QUIET)
  if(NOT nlohmann_json_FOUND)
    message(FATAL_ERROR "nlohmann-json was not found. Install it (Debian: apt-get install "
      "nlohmann-json3-dev, or run scripts/setup).")
  endif()
endif()
