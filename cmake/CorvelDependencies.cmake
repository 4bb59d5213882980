# Third-party dependencies: nlohmann-json everywhere, OpenSSL and libcurl on Linux.
# Debian packages serve the native and the MinGW build; vcpkg (vcpkg.json) serves MSVC.

find_package(nlohmann_json 3.10 CONFIG QUIET)
if(NOT TARGET nlohmann_json::nlohmann_json)
  # The cross build cannot use the host's package config (its find root is the MinGW sysroot),
  # but the header-only library is the same for every target: expose just its folder.
  find_path(CORVEL_NLOHMANN_DIR nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH
            NO_DEFAULT_PATH)
  if(NOT CORVEL_NLOHMANN_DIR)
    message(FATAL_ERROR "nlohmann-json not found (Debian: nlohmann-json3-dev)")
  endif()
  set(_only "${CMAKE_BINARY_DIR}/_deps/nlohmann-include")
  file(MAKE_DIRECTORY "${_only}")
  file(CREATE_LINK "${CORVEL_NLOHMANN_DIR}/nlohmann" "${_only}/nlohmann" SYMBOLIC)
  add_library(corvel_nlohmann_json INTERFACE)
  target_include_directories(corvel_nlohmann_json SYSTEM INTERFACE "${_only}")
  add_library(nlohmann_json::nlohmann_json ALIAS corvel_nlohmann_json)
endif()

if(NOT WIN32)
  find_package(OpenSSL 3 REQUIRED)
  find_package(CURL REQUIRED)
  find_package(Threads REQUIRED)
endif()
