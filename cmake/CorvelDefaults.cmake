# Compiler settings shared by every target of the project.

if(WIN32)
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00
                          WINVER=0x0A00)
endif()

if(MINGW)
  # The executables must run without MinGW DLLs beside them.
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()

if(CORVEL_SANITIZE)
  if(MSVC OR WIN32)
    message(FATAL_ERROR "CORVEL_SANITIZE is for the native Linux build")
  endif()
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# Warnings for the project's own targets (third-party code is built without them).
function(corvel_target_defaults target)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /utf-8 $<$<BOOL:${CORVEL_WERROR}>:/WX>)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra $<$<BOOL:${CORVEL_WERROR}>:-Werror>)
  endif()
endfunction()

# A Windows executable whose entry point is wWinMain/wmain (MinGW needs -municode for that).
function(corvel_unicode_entry target)
  if(MINGW)
    target_link_options(${target} PRIVATE -municode)
  endif()
endfunction()

# A static library of the project: corvel_library(name SOURCES ... [WIN ...] [POSIX ...] [LIBS ...])
# WIN files are used on Windows, POSIX files elsewhere.
function(corvel_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;WIN;POSIX;LIBS;WIN_LIBS;POSIX_LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  if(WIN32)
    target_sources(${name} PRIVATE ${ARG_WIN})
    target_link_libraries(${name} PUBLIC ${ARG_WIN_LIBS})
  else()
    target_sources(${name} PRIVATE ${ARG_POSIX})
    target_link_libraries(${name} PUBLIC ${ARG_POSIX_LIBS})
  endif()
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  corvel_target_defaults(${name})
endfunction()

# libFuzzer build (the "fuzz" preset, clang only). Every library gets coverage instrumentation
# and the sanitizers; only the fuzz targets link libFuzzer's own main.
if(CORVEL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang" OR WIN32)
    message(FATAL_ERROR "CORVEL_FUZZ needs clang on Linux (libFuzzer)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)

  # corvel_fuzzer(name SOURCES ... LIBS ...): one libFuzzer target; scripts/fuzz runs every
  # target listed in the global property CORVEL_FUZZERS.
  function(corvel_fuzzer name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    corvel_target_defaults(${name})
    set_property(GLOBAL APPEND PROPERTY CORVEL_FUZZERS ${name})
  endfunction()

  # Once every folder is read: a "fuzzers" target that builds them all, and their names in
  # <build>/fuzzers.txt for scripts/fuzz.
  function(_corvel_fuzzers_collect)
    get_property(fuzzers GLOBAL PROPERTY CORVEL_FUZZERS)
    add_custom_target(fuzzers)
    if(fuzzers)
      add_dependencies(fuzzers ${fuzzers})
    endif()
    list(JOIN fuzzers "\n" lines)
    file(WRITE "${CMAKE_BINARY_DIR}/fuzzers.txt" "${lines}\n")
  endfunction()
  cmake_language(DEFER DIRECTORY "${CMAKE_SOURCE_DIR}" CALL _corvel_fuzzers_collect)
endif()
