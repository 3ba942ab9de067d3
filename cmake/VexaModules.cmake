# Warning flags for the project's own code.
set(VEXA_WARNINGS -Wall -Wextra -Werror -Werror=deprecated-declarations)

# vexa_module(NAME DEPS ...): a static library from every .cpp in Src/NAME.
function(vexa_module name)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${name}/*.cpp)
  add_library(vexa_${name} STATIC ${sources})
  target_include_directories(vexa_${name} PUBLIC ${PROJECT_SOURCE_DIR}/Src)
  target_compile_options(vexa_${name} PRIVATE ${VEXA_WARNINGS})
  target_link_libraries(vexa_${name} PUBLIC ${ARGN} PkgConfig::FFMPEG Threads::Threads)
endfunction()

# vexa_test(NAME LIBS ...): one GoogleTest executable from every .cpp in tests/NAME.
function(vexa_test name)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${name}/*.cpp)
  add_executable(test_${name} ${sources})
  target_compile_options(test_${name} PRIVATE ${VEXA_WARNINGS})
  target_include_directories(test_${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(test_${name} PRIVATE ${ARGN} GTest::gmock GTest::gtest_main)
  add_test(NAME ${name} COMMAND test_${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600
    ENVIRONMENT "VEXA_TEST_DATA=${CMAKE_CURRENT_SOURCE_DIR}/data")
endfunction()
