# Clipper2 and CDT are used, never copied into this repository. An installed copy that
# find_package() locates is preferred; otherwise the pinned upstream source trees are taken from
# the PyPI source distributions that carry them, fetched with pip by name and version and
# verified against the sha256 recorded here before anything is extracted.

set(STRANDIFY_CLIPPER2_SDIST "clipper2-py==0.1.1")
set(STRANDIFY_CLIPPER2_FILE "clipper2_py-0.1.1.tar.gz")
set(STRANDIFY_CLIPPER2_SHA256 "9c73d66b5042f404d1f01ac21d2ca57b75c5d658aeeda00f84bfacb7d7caf6a6")
set(STRANDIFY_CLIPPER2_SUBDIR "clipper2_py-0.1.1/third_party/Clipper2/CPP/Clipper2Lib")

set(STRANDIFY_CDT_SDIST "pythoncdt==2.0.2")
set(STRANDIFY_CDT_FILE "pythoncdt-2.0.2.tar.gz")
set(STRANDIFY_CDT_SHA256 "303832cae14a5ce90bb4bc696274c8add0f1f0b9bd4edb943e24fd10417036c4")
set(STRANDIFY_CDT_SUBDIR "pythoncdt-2.0.2/CDT/CDT")

if(DEFINED ENV{STRANDIFY_DEPS_CACHE})
  set(STRANDIFY_DEPS_CACHE "$ENV{STRANDIFY_DEPS_CACHE}" CACHE PATH "Where fetched source archives are kept")
else()
  set(STRANDIFY_DEPS_CACHE "${CMAKE_SOURCE_DIR}/.deps-cache" CACHE PATH "Where fetched source archives are kept")
endif()

if(Python_EXECUTABLE)
  set(STRANDIFY_PYTHON "${Python_EXECUTABLE}")
else()
  find_program(STRANDIFY_PYTHON NAMES python3 python)
endif()

# Returns in OUT_DIR the extracted tree of a verified source distribution.
function(strandify_fetch_sdist requirement file sha256 subdir out_dir)
  set(archive "${STRANDIFY_DEPS_CACHE}/${file}")
  if(EXISTS "${archive}")
    file(SHA256 "${archive}" have)
    if(NOT have STREQUAL sha256)
      file(REMOVE "${archive}")
    endif()
  endif()
  if(NOT EXISTS "${archive}")
    if(NOT STRANDIFY_PYTHON)
      message(FATAL_ERROR "No Python interpreter to run pip with; install ${requirement} sources by hand into ${STRANDIFY_DEPS_CACHE}")
    endif()
    set(reqfile "${CMAKE_BINARY_DIR}/deps-${file}.txt")
    file(WRITE "${reqfile}" "${requirement} --hash=sha256:${sha256}\n")
    message(STATUS "Fetching ${requirement} sources with pip")
    execute_process(
      COMMAND "${STRANDIFY_PYTHON}" -m pip download --no-deps --no-binary :all:
              --require-hashes -r "${reqfile}" -d "${STRANDIFY_DEPS_CACHE}" --quiet
      RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0 OR NOT EXISTS "${archive}")
      message(FATAL_ERROR "pip could not fetch ${requirement} (exit ${rc})")
    endif()
  endif()
  file(SHA256 "${archive}" have)
  if(NOT have STREQUAL sha256)
    message(FATAL_ERROR "${file}: sha256 ${have} does not match the pinned ${sha256}")
  endif()
  set(dest "${CMAKE_BINARY_DIR}/_deps/${file}")
  if(NOT EXISTS "${dest}/${subdir}")
    file(REMOVE_RECURSE "${dest}")
    file(ARCHIVE_EXTRACT INPUT "${archive}" DESTINATION "${dest}")
  endif()
  set(${out_dir} "${dest}/${subdir}" PARENT_SCOPE)
endfunction()

# --- Clipper2 ---------------------------------------------------------------------------
find_package(Clipper2 CONFIG QUIET)
if(TARGET Clipper2::Clipper2)
  message(STATUS "Using installed Clipper2 ${Clipper2_VERSION}")
  add_library(strandify_clipper2 INTERFACE)
  target_link_libraries(strandify_clipper2 INTERFACE Clipper2::Clipper2)
else()
  strandify_fetch_sdist("${STRANDIFY_CLIPPER2_SDIST}" "${STRANDIFY_CLIPPER2_FILE}"
                        "${STRANDIFY_CLIPPER2_SHA256}" "${STRANDIFY_CLIPPER2_SUBDIR}" CLIPPER2_DIR)
  add_library(strandify_clipper2 STATIC
    "${CLIPPER2_DIR}/src/clipper.engine.cpp"
    "${CLIPPER2_DIR}/src/clipper.offset.cpp")
  target_include_directories(strandify_clipper2 SYSTEM PUBLIC "${CLIPPER2_DIR}/include")
  set_target_properties(strandify_clipper2 PROPERTIES POSITION_INDEPENDENT_CODE ON)
  target_compile_options(strandify_clipper2 PRIVATE -w)
endif()

# --- CDT (header-only use) ---------------------------------------------------------------
find_package(CDT CONFIG QUIET)
add_library(strandify_cdt INTERFACE)
if(TARGET CDT::CDT)
  message(STATUS "Using installed CDT")
  target_link_libraries(strandify_cdt INTERFACE CDT::CDT)
else()
  strandify_fetch_sdist("${STRANDIFY_CDT_SDIST}" "${STRANDIFY_CDT_FILE}"
                        "${STRANDIFY_CDT_SHA256}" "${STRANDIFY_CDT_SUBDIR}" CDT_DIR)
  target_include_directories(strandify_cdt SYSTEM INTERFACE "${CDT_DIR}/include")
endif()
