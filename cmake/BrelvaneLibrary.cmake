# One static library per folder; its sources are the folder's .cpp files, so
# adding a file needs no CMake edit.
function(brelvane_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;SOURCES" ${ARGN})
  if(NOT ARG_SOURCES)
    file(GLOB ARG_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  endif()
  # A library's include path holds its own folder only (a link to it under
  # the build folder); the folders of the libraries it links come with them.
  # A header of a layer it does not link is then not found at all, so the
  # compiler itself refuses an upward include.
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  set(exposed ${CMAKE_BINARY_DIR}/exposed/${name})
  file(MAKE_DIRECTORY ${exposed})
  if(NOT EXISTS ${exposed}/${folder})
    file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${exposed}/${folder} SYMBOLIC)
  endif()
  if(ARG_SOURCES)
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${exposed} ${CMAKE_BINARY_DIR}/generated)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${exposed} ${CMAKE_BINARY_DIR}/generated)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# One GoogleTest executable per test folder, made of its *_test.cpp files.
function(brelvane_test_folder name)
  cmake_parse_arguments(ARG "QT_MAIN;WIDGETS_MAIN" "" "DEPS;LABELS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp ${CMAKE_CURRENT_SOURCE_DIR}/support/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  if(ARG_WIDGETS_MAIN)
    # Tests of windows run under a QApplication (offscreen in CI).
    target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/common/QtWidgetsTestMain.cpp)
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} Qt6::Widgets GTest::gtest GTest::gmock)
  elseif(ARG_QT_MAIN)
    # Tests that need an event loop run under a QCoreApplication.
    target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/common/QtTestMain.cpp)
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} Qt6::Core GTest::gtest GTest::gmock)
  else()
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  endif()
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE BRELVANE_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data"
                                             BRELVANE_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  # An empty LABELS value would vanish from the list and turn TIMEOUT into a
  # label, leaving the tests without their time limit.
  set(properties TIMEOUT 300)
  if(ARG_LABELS)
    list(APPEND properties LABELS "${ARG_LABELS}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${properties})
endfunction()
