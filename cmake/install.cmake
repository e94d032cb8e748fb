# Install and export rules: the libraries, their headers and a package configuration, so that
# another project finds the library with
#   find_package(voduzazi REQUIRED)
#   target_link_libraries(app PRIVATE voduzazi::voduzazi)
# Each subsystem is also there on its own, as voduzazi::voduzazi_<folder>.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VODUZAZI_CONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/voduzazi)

set(voduzazi_installed_targets voduzazi)
foreach(subsystem IN LISTS VODUZAZI_SUBSYSTEMS)
  if(TARGET voduzazi_${subsystem})
    list(APPEND voduzazi_installed_targets voduzazi_${subsystem})
  endif()
endforeach()

install(TARGETS ${voduzazi_installed_targets}
  EXPORT voduzaziTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/voduzazi/
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/voduzazi
  FILES_MATCHING PATTERN "*.hpp"
  PATTERN "test_support" EXCLUDE)
install(EXPORT voduzaziTargets
  NAMESPACE voduzazi::
  DESTINATION ${VODUZAZI_CONFIG_DIR})

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/voduzaziConfig.cmake.in
  ${PROJECT_BINARY_DIR}/voduzaziConfig.cmake
  INSTALL_DESTINATION ${VODUZAZI_CONFIG_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/voduzaziConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/voduzaziConfig.cmake
              ${PROJECT_BINARY_DIR}/voduzaziConfigVersion.cmake
  DESTINATION ${VODUZAZI_CONFIG_DIR})

# A project builds against a staged install of this build: tests/install.
if(VODUZAZI_BUILD_TESTS)
  add_test(NAME install.FindPackageConsumer
    COMMAND ${CMAKE_COMMAND}
      -DBUILD_DIR=${PROJECT_BINARY_DIR}
      -DSTAGE_DIR=${PROJECT_BINARY_DIR}/install-test
      -DCONSUMER_DIR=${PROJECT_SOURCE_DIR}/tests/install/consumer
      -DGENERATOR=${CMAKE_GENERATOR}
      -DCXX_COMPILER=${CMAKE_CXX_COMPILER}
      -DBUILD_TYPE=${CMAKE_BUILD_TYPE}
      -DSANITIZE=${VODUZAZI_SANITIZE}
      -P ${PROJECT_SOURCE_DIR}/tests/install/consumer_test.cmake)
  set_tests_properties(install.FindPackageConsumer PROPERTIES TIMEOUT 300)
endif()
