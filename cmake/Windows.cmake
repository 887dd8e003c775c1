# What a Windows build needs that Debian provides only for Linux: utf8proc and libstemmer built
# from their sources (the same versions as Linux's libutf8proc-dev and libstemmer-dev, so both
# builds classify characters and stem words alike),
# CLI11's, xxHash's and nlohmann/json's headers taken from the build machine, and GoogleTest built
# from Debian's sources.
# The window and the preview server (quarry-cli serve) are not built for Windows.

set(QUARRY_BUILD_APP OFF CACHE BOOL "Build the Qt desktop program" FORCE)
set(QUARRY_BUILD_SERVE OFF CACHE BOOL "Build quarry-cli serve, the preview server" FORCE)
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)

# utf8proc: tools/windows-deps unpacks Debian's source package here.
set(QUARRY_UTF8PROC_SOURCE_DIR "" CACHE PATH "utf8proc's source folder (holds utf8proc.c)")
if(NOT EXISTS "${QUARRY_UTF8PROC_SOURCE_DIR}/utf8proc.c")
  message(FATAL_ERROR "Windows build: set QUARRY_UTF8PROC_SOURCE_DIR to utf8proc's source "
                      "folder (tools/windows-deps fetches it)")
endif()
enable_language(C)
add_library(utf8proc_static STATIC "${QUARRY_UTF8PROC_SOURCE_DIR}/utf8proc.c")
target_compile_definitions(utf8proc_static PUBLIC UTF8PROC_STATIC)
target_include_directories(utf8proc_static SYSTEM PUBLIC "${QUARRY_UTF8PROC_SOURCE_DIR}")
set_target_properties(utf8proc_static PROPERTIES C_STANDARD 99)
target_compile_options(utf8proc_static PRIVATE -w)  # its code, not ours; C++-only flags above
add_library(Quarry::utf8proc ALIAS utf8proc_static)

# libstemmer: Snowball's UTF-8 stemmers, which tools/windows-deps generates from Debian's source
# package (the same version as Linux's libstemmer-dev) beside utf8proc's folder.
get_filename_component(QUARRY_DEPS_DIR "${QUARRY_UTF8PROC_SOURCE_DIR}" DIRECTORY)
set(QUARRY_STEMMER_SOURCE_DIR "${QUARRY_DEPS_DIR}/snowball" CACHE PATH
    "Snowball's source folder with its generated C stemmers (holds libstemmer/modules_utf8.h)")
if(NOT EXISTS "${QUARRY_STEMMER_SOURCE_DIR}/libstemmer/modules_utf8.h")
  message(FATAL_ERROR "Windows build: set QUARRY_STEMMER_SOURCE_DIR to Snowball's source "
                      "folder with its generated stemmers (tools/windows-deps makes it)")
endif()
file(GLOB QUARRY_STEMMER_SOURCES "${QUARRY_STEMMER_SOURCE_DIR}/src_c/stem_UTF_8_*.c")
add_library(stemmer_static STATIC "${QUARRY_STEMMER_SOURCE_DIR}/libstemmer/libstemmer_utf8.c"
            "${QUARRY_STEMMER_SOURCE_DIR}/runtime/api.c"
            "${QUARRY_STEMMER_SOURCE_DIR}/runtime/utilities.c" ${QUARRY_STEMMER_SOURCES})
target_include_directories(stemmer_static SYSTEM PUBLIC "${QUARRY_STEMMER_SOURCE_DIR}/include")
target_compile_options(stemmer_static PRIVATE -w)  # its code, not ours
add_library(Quarry::stemmer ALIAS stemmer_static)

# CLI11 is header-only; the cross compiler must not search the build machine's /usr/include as
# a whole, so only CLI11's folder is made visible.
set(QUARRY_HOST_INCLUDE "${CMAKE_BINARY_DIR}/host-include")
file(MAKE_DIRECTORY "${QUARRY_HOST_INCLUDE}")
file(CREATE_LINK /usr/include/CLI "${QUARRY_HOST_INCLUDE}/CLI" SYMBOLIC)
file(CREATE_LINK /usr/include/xxhash.h "${QUARRY_HOST_INCLUDE}/xxhash.h" SYMBOLIC)
file(CREATE_LINK /usr/include/nlohmann "${QUARRY_HOST_INCLUDE}/nlohmann" SYMBOLIC)
add_library(CLI11::CLI11 INTERFACE IMPORTED)
target_include_directories(CLI11::CLI11 SYSTEM INTERFACE "${QUARRY_HOST_INCLUDE}")
set(CLI11_FOUND TRUE)
# xxHash is used header-only, as on Linux: Debian's header, alone.
add_library(Quarry::xxhash INTERFACE IMPORTED)
target_include_directories(Quarry::xxhash SYSTEM INTERFACE "${QUARRY_HOST_INCLUDE}")

if(QUARRY_BUILD_TESTS)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
  set(GTest_FOUND TRUE)
endif()
# nlohmann/json is header-only too; zlib is Debian's mingw-w64 build (libz-mingw-w64-dev), linked
# statically like everything else.
add_library(Quarry::json INTERFACE IMPORTED)
target_include_directories(Quarry::json SYSTEM INTERFACE "${QUARRY_HOST_INCLUDE}")
add_library(ZLIB::ZLIB STATIC IMPORTED)
set_target_properties(ZLIB::ZLIB PROPERTIES IMPORTED_LOCATION /usr/x86_64-w64-mingw32/lib/libz.a
                      INTERFACE_INCLUDE_DIRECTORIES /usr/x86_64-w64-mingw32/include)
