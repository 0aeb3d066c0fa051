# Build helpers shared by every folder.
#
# qm_library(NAME [SUBDIRS dir...] [libs...]): a static library of the *.cpp
# files of the current folder and of the named subfolders (the groups of one
# subsystem; other subfolders are libraries of their own). A folder without
# sources yet gives an empty interface library, so the layout can exist
# before its code does.
set_property(GLOBAL PROPERTY QM_LIBRARIES "")

function(qm_library name)
  cmake_parse_arguments(QL "" "" "SUBDIRS" ${ARGN})
  set(globs ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  foreach(dir ${QL_SUBDIRS})
    list(APPEND globs ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.c)
  endforeach()
  file(GLOB srcs CONFIGURE_DEPENDS ${globs})
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)
    target_link_libraries(${name} PUBLIC ${QL_UNPARSED_ARGUMENTS})
    set_property(GLOBAL APPEND PROPERTY QM_LIBRARIES ${name})
  endif()
endfunction()

function(qm_runtime_target)
  get_property(libs GLOBAL PROPERTY QM_LIBRARIES)
  add_library(qm_runtime INTERFACE)
  target_include_directories(qm_runtime INTERFACE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)
  if(libs)
    list(JOIN libs "," joined)
    target_link_libraries(qm_runtime INTERFACE "$<LINK_GROUP:RESCAN,${joined}>")
  endif()
  target_link_libraries(qm_runtime INTERFACE ZLIB::ZLIB PkgConfig::SPNG PkgConfig::DEFLATE JPEG::JPEG Freetype::Freetype
                        Threads::Threads ${CMAKE_DL_LIBS})
endfunction()

# qm_test(NAME DIR [libs...]): one GoogleTest executable of the *.cpp files in
# tests/DIR, linked with the whole runtime unless other libraries are named.
function(qm_test name dir)
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  add_executable(${name} ${srcs})
  if(ARGN)
    target_link_libraries(${name} PRIVATE ${ARGN})
  else()
    target_link_libraries(${name} PRIVATE qm_runtime)
  endif()
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include
                             ${PROJECT_SOURCE_DIR}/tests)
  # Tests find source files and build products through these, never by
  # assuming where the build folder sits.
  target_compile_definitions(${name} PRIVATE QM_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                             QM_BINARY_DIR="${PROJECT_BINARY_DIR}")
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "TZ=UTC;LANG=C;LC_ALL=C"
                       WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
endfunction()

# qm_fuzz(NAME SOURCE [libs...]): a libFuzzer target, built only with QM_FUZZ.
function(qm_fuzz name src)
  if(NOT QM_FUZZ)
    return()
  endif()
  add_executable(${name} ${src})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  if(ARGN)
    target_link_libraries(${name} PRIVATE ${ARGN})
  else()
    target_link_libraries(${name} PRIVATE qm_runtime)
  endif()
  set_property(GLOBAL APPEND PROPERTY QM_FUZZERS ${name})
endfunction()
