# qsft_area(NAME [DEPS targets...] [PRIVATE_DEPS targets...])
# One source folder is one static library named qsft_NAME. Sources are picked up from the
# folder itself, so adding a file needs no edit here. A folder without sources yet is an
# interface library, so that the layers above it can already name it.
function(qsft_area NAME)
  cmake_parse_arguments(A "" "" "DEPS;PRIVATE_DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(srcs)
    add_library(qsft_${NAME} STATIC ${srcs})
    target_include_directories(qsft_${NAME} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(qsft_${NAME} PUBLIC ${A_DEPS} PRIVATE ${A_PRIVATE_DEPS})
  else()
    add_library(qsft_${NAME} INTERFACE)
    target_include_directories(qsft_${NAME} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(qsft_${NAME} INTERFACE ${A_DEPS})
  endif()
endfunction()

# qsft_test_folder(NAME [DEPS targets...]): every *.cpp in tests/NAME becomes part of one
# GoogleTest binary, qsft_NAME_tests, registered with CTest test by test.
function(qsft_test_folder NAME)
  cmake_parse_arguments(A "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${NAME}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  add_executable(qsft_${NAME}_tests ${srcs})
  target_link_libraries(qsft_${NAME}_tests PRIVATE ${A_DEPS} qsft_test_support GTest::gtest GTest::gtest_main GTest::gmock)
  target_include_directories(qsft_${NAME}_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  set_target_properties(qsft_${NAME}_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  gtest_discover_tests(qsft_${NAME}_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300
                       ENVIRONMENT "QSFT_BIN_DIR=${CMAKE_BINARY_DIR}/bin")
endfunction()
