# Libraries the render and platform tests load at run time: a resource library from a test
# script, and a fake MUI runtime placed where $CommonProgramFiles would hold the real one.
set(GP_TEST_LIBRARY_DIR ${CMAKE_BINARY_DIR}/testlibs)

gp_add_resource_library(TestStrings ${CMAKE_CURRENT_LIST_DIR}/data/TestStrings.rc)
set_target_properties(TestStrings PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${GP_TEST_LIBRARY_DIR})

add_library(gp_fake_mui SHARED ${CMAKE_CURRENT_LIST_DIR}/fake/FakeMui.c)
target_include_directories(gp_fake_mui PRIVATE ${CMAKE_SOURCE_DIR}/include)
target_link_libraries(gp_fake_mui PRIVATE ${CMAKE_DL_LIBS})
set_target_properties(gp_fake_mui PROPERTIES
  PREFIX "" OUTPUT_NAME CvRtMui NO_SONAME OFF
  LIBRARY_OUTPUT_DIRECTORY ${GP_TEST_LIBRARY_DIR}/Corvane/Platform)
target_link_options(gp_fake_mui PRIVATE -Wl,-soname,CvRtMui.so)

find_package(LibXml2 REQUIRED)
target_link_libraries(gp_unit_tests PRIVATE LibXml2::LibXml2)
target_compile_definitions(gp_unit_tests PRIVATE GP_TEST_LIBRARY_DIR="${GP_TEST_LIBRARY_DIR}")
add_dependencies(gp_unit_tests TestStrings gp_fake_mui GPNResources)

# `glimmerpane rc` builds a library from the shipped script and refuses a malformed one with
# its file and line.
add_test(NAME GlimmerpaneRcBuildsALibrary
  COMMAND glimmerpane rc ${CMAKE_SOURCE_DIR}/resources/GPNResources.rc -o ${GP_TEST_LIBRARY_DIR}/FromCli.so)
set_tests_properties(GlimmerpaneRcBuildsALibrary PROPERTIES
  PASS_REGULAR_EXPRESSION "231 strings in 3 languages \\(en-US, de-DE, fr-FR\\)")
add_test(NAME GlimmerpaneRcRefusesMalformedScripts
  COMMAND glimmerpane rc ${CMAKE_CURRENT_LIST_DIR}/data/Malformed.rc -o ${GP_TEST_LIBRARY_DIR}/Malformed.so)
set_tests_properties(GlimmerpaneRcRefusesMalformedScripts PROPERTIES
  PASS_REGULAR_EXPRESSION "Malformed.rc:3: error: unterminated string literal")
