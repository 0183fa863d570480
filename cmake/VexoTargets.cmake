# Shared compile settings and small helpers for the project's targets.

add_library(vexo_options INTERFACE)
target_compile_options(vexo_options INTERFACE -Wall -Wextra -Wshadow -Wpedantic)
if(VEXO_WERROR)
  target_compile_options(vexo_options INTERFACE -Werror)
endif()
if(VEXO_SANITIZE)
  target_compile_options(vexo_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(vexo_options INTERFACE -fsanitize=address,undefined)
endif()

# Programs, tests, benchmarks and fuzz targets stand above every layer and see
# the whole tree.
add_library(vexo_whole_tree INTERFACE)
target_include_directories(vexo_whole_tree INTERFACE ${PROJECT_SOURCE_DIR})

# Tests and fuzz targets read their data from the source tree. The programs find
# their resources relative to their own location (ResourceDir in base/strings.h),
# so no source or build path is compiled into anything that is installed.
add_library(vexo_source_tree INTERFACE)
target_compile_definitions(vexo_source_tree INTERFACE VEXO_SOURCE_DIR="${PROJECT_SOURCE_DIR}")

# The build tree's share/vexofax is the source tree's resources, so programs and
# tests built here find them as the installed programs do.
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/share)
file(CREATE_LINK ${PROJECT_SOURCE_DIR}/resources ${PROJECT_BINARY_DIR}/share/vexofax SYMBOLIC)

# vexo_library(NAME DIR DEPS...): a static library of every .cc file in DIR and
# in its direct subfolders that have no CMakeLists.txt of their own, linked to the
# given dependencies.
function(vexo_collect_sources out dir)
  file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*.cc)
  file(GLOB subdirs LIST_DIRECTORIES true ${dir}/*)
  foreach(sub ${subdirs})
    if(IS_DIRECTORY ${sub} AND NOT EXISTS ${sub}/CMakeLists.txt)
      file(GLOB more CONFIGURE_DEPENDS ${sub}/*.cc)
      list(APPEND srcs ${more})
    endif()
  endforeach()
  set(${out} ${srcs} PARENT_SCOPE)
endfunction()

function(vexo_library name dir)
  vexo_collect_sources(srcs ${dir})
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_link_libraries(${name} PUBLIC vexo_options ${ARGN})
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE vexo_options ${ARGN})
  endif()
endfunction()

# vexo_layer(NAME FOLDER SEES FOLDERS... LINKS DEPS...): the library of one
# layer folder. Its sources see only their own folder and the folders named
# after SEES (the layers below it): the include path is a directory of links to
# exactly those folders, so an include of a higher or sideways layer does not
# compile. Paths in debug and coverage data name the real folders.
function(vexo_layer name folder)
  cmake_parse_arguments(arg "" "" "SEES;LINKS" ${ARGN})
  vexo_library(${name} ${PROJECT_SOURCE_DIR}/${folder} ${arg_LINKS})
  set(view ${CMAKE_BINARY_DIR}/layer-views/${name})
  file(REMOVE_RECURSE ${view})
  file(MAKE_DIRECTORY ${view})
  foreach(seen ${folder} ${arg_SEES})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${seen} ${view}/${seen} SYMBOLIC)
  endforeach()
  get_target_property(type ${name} TYPE)
  if(type STREQUAL "STATIC_LIBRARY")
    target_include_directories(${name} PRIVATE ${view})
    target_compile_options(${name} PRIVATE -ffile-prefix-map=${view}=${PROJECT_SOURCE_DIR})
  endif()
endfunction()

# vexo_test(NAME LABEL DIR DEPS...): one GoogleTest binary of every .cc file in
# DIR, its cases registered with CTest under LABEL.
function(vexo_test name label dir)
  vexo_collect_sources(srcs ${dir})
  if(NOT srcs)
    return()
  endif()
  add_executable(${name} ${srcs})
  target_link_libraries(${name} PRIVATE vexo_options vexo_whole_tree GTest::gtest_main GTest::gmock ${ARGN})
  gtest_discover_tests(${name} PROPERTIES LABELS ${label} DISCOVERY_TIMEOUT 60)
endfunction()
