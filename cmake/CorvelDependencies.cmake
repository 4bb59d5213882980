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

# PDF.js (the npm package pdfjs-dist) renders a PDF lesson's pages for printing. Its classic-script
# "legacy" build runs in the engines we ship on (Qt 6.4's Chromium 102, WebView2); later releases
# are ES modules only. The package is fetched from the npm registry once per machine, checked
# against the registry's own SHA-512, and compiled into the player.
set(CORVEL_PDFJS_VERSION "3.11.174")
set(CORVEL_PDFJS_SHA512 "4dd4d93dfd6dad9f3f505bb90b1fc65c1ec664cdf42d3fb059435fb22e81abc78f2e76fec2834ab43ca62369b165806931ba27345a8a9a2cfaf380c87e777c74")
set(CORVEL_DOWNLOAD_CACHE "${PROJECT_SOURCE_DIR}/.cache/downloads" CACHE PATH
    "Where downloaded dependencies are kept between builds")
set(CORVEL_PDFJS_TARBALL "${CORVEL_DOWNLOAD_CACHE}/pdfjs-dist-${CORVEL_PDFJS_VERSION}.tgz")
set(CORVEL_PDFJS_DIR "${CMAKE_BINARY_DIR}/_deps/pdfjs-dist-${CORVEL_PDFJS_VERSION}")
if(NOT EXISTS "${CORVEL_PDFJS_DIR}/package/legacy/build/pdf.worker.min.js")
  file(DOWNLOAD "https://registry.npmjs.org/pdfjs-dist/-/pdfjs-dist-${CORVEL_PDFJS_VERSION}.tgz"
       "${CORVEL_PDFJS_TARBALL}" EXPECTED_HASH SHA512=${CORVEL_PDFJS_SHA512} STATUS _pdfjs_status)
  list(GET _pdfjs_status 0 _pdfjs_code)
  if(NOT _pdfjs_code EQUAL 0)
    file(REMOVE "${CORVEL_PDFJS_TARBALL}")
    message(FATAL_ERROR "pdfjs-dist ${CORVEL_PDFJS_VERSION} could not be downloaded: ${_pdfjs_status}")
  endif()
  file(ARCHIVE_EXTRACT INPUT "${CORVEL_PDFJS_TARBALL}" DESTINATION "${CORVEL_PDFJS_DIR}"
       PATTERNS package/LICENSE package/legacy/build/pdf.min.js package/legacy/build/pdf.worker.min.js)
endif()
