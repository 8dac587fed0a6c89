# The suffix sorter for the cross builds (Windows, WebAssembly). Debian
# ships libdivsufsort built for Linux only, so its source package is fetched
# into the build tree (never into the repository) by tools/debian-source.sh,
# through a private apt configuration for the archive the system installs
# from, unpacked there with its Debian patches, and built for the target as
# a static library with the same tool chain file. Defines the target
# vek_suffix_sorter. Needs dpkg-source (package dpkg-dev).
include(ExternalProject)

set(_dss_root ${CMAKE_BINARY_DIR}/_deps/divsufsort)
set(_dss_source ${_dss_root}/source)
set(_dss_prefix ${_dss_root}/install)

if(NOT EXISTS ${_dss_source}/CMakeLists.txt)
  file(MAKE_DIRECTORY ${_dss_root})
  file(GLOB _dss_dsc ${_dss_root}/libdivsufsort_*.dsc)
  if(NOT _dss_dsc)
    message(STATUS "Fetching Debian's source package of libdivsufsort")
    execute_process(COMMAND ${CMAKE_SOURCE_DIR}/tools/debian-source.sh libdivsufsort ${_dss_root}
                    RESULT_VARIABLE _dss_result OUTPUT_QUIET ERROR_VARIABLE _dss_error)
    file(GLOB _dss_dsc ${_dss_root}/libdivsufsort_*.dsc)
    if(NOT _dss_result EQUAL 0 OR NOT _dss_dsc)
      message(FATAL_ERROR "fetching Debian's source package of libdivsufsort failed: ${_dss_error}")
    endif()
  endif()
  list(GET _dss_dsc 0 _dss_dsc)
  execute_process(COMMAND dpkg-source --no-check -x ${_dss_dsc} ${_dss_source}
                  WORKING_DIRECTORY ${_dss_root} RESULT_VARIABLE _dss_result OUTPUT_QUIET)
  if(NOT _dss_result EQUAL 0 OR NOT EXISTS ${_dss_source}/CMakeLists.txt)
    message(FATAL_ERROR "could not unpack ${_dss_dsc}")
  endif()
endif()

# The same tool chain file, also when it was given relative to the build or
# source folder.
get_filename_component(_dss_toolchain "${CMAKE_TOOLCHAIN_FILE}" ABSOLUTE BASE_DIR "${CMAKE_BINARY_DIR}")
if(NOT EXISTS "${_dss_toolchain}")
  get_filename_component(_dss_toolchain "${CMAKE_TOOLCHAIN_FILE}" ABSOLUTE BASE_DIR "${CMAKE_SOURCE_DIR}")
endif()

set(_dss_library ${_dss_prefix}/lib/${CMAKE_STATIC_LIBRARY_PREFIX}divsufsort${CMAKE_STATIC_LIBRARY_SUFFIX})
ExternalProject_Add(divsufsort_build
  SOURCE_DIR ${_dss_source}
  BINARY_DIR ${_dss_root}/build
  INSTALL_DIR ${_dss_prefix}
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${_dss_toolchain}
    -Wno-dev
    -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_INSTALL_PREFIX=<INSTALL_DIR>
    -DBUILD_SHARED_LIBS=OFF
    -DBUILD_EXAMPLES=OFF
    -DBUILD_DIVSUFSORT64=OFF
    -DUSE_OPENMP=OFF
  BUILD_BYPRODUCTS ${_dss_library}
  UPDATE_COMMAND ""
  PATCH_COMMAND "")

# Debian's patch installs the header under include/<library architecture>,
# which tool chains like emscripten's set.
set(_dss_include ${_dss_prefix}/include)
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(_dss_include ${_dss_include}/${CMAKE_LIBRARY_ARCHITECTURE})
endif()
file(MAKE_DIRECTORY ${_dss_include})
add_library(divsufsort_static STATIC IMPORTED GLOBAL)
set_target_properties(divsufsort_static PROPERTIES
  IMPORTED_LOCATION ${_dss_library}
  INTERFACE_INCLUDE_DIRECTORIES ${_dss_include})
add_dependencies(divsufsort_static divsufsort_build)

add_library(vek_suffix_sorter INTERFACE)
target_link_libraries(vek_suffix_sorter INTERFACE divsufsort_static)
