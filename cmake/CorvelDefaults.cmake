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
