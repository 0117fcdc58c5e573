# What `cmake --install` lays out:
#
#   include/tandrelo_mdns.h                     the public header
#   lib/libtandrelo-mdns.so.1.1.0, .so.1, .so   the library (Linux)
#   bin/tandrelo-mdns.dll, lib/tandrelo-mdns.dll.a
#                                               the DLL and its import library (Windows)
#   lib/tandrelo-mdns.lib, lib/tandrelo-mdns.def
#                                               the import library for MSVC's linker and
#                                               the module definition file it is made from
#   bin/tandrelo-mdns[.exe]                     the command-line tool, when it is built
#   lib/cmake/tandrelo-mdns/                    the CMake package: find_package(tandrelo-mdns)
#                                               gives the imported target tandrelo::mdns
#   lib/pkgconfig/tandrelo-mdns.pc              the pkg-config file
#
# Both the CMake package and the pkg-config file find the rest relative to
# themselves, so an installed tree may be moved, and `cmake --install
# --prefix` works into any folder. Components: "runtime" (library, DLL,
# tool) and "development" (header, import libraries, .def file, link name,
# package files).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(TANDRELO_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tandrelo-mdns)

set_target_properties(tandrelo-mdns PROPERTIES EXPORT_NAME mdns)
target_include_directories(tandrelo-mdns PUBLIC $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

install(TARGETS tandrelo-mdns EXPORT tandrelo-mdns-targets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
                NAMELINK_COMPONENT development
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(FILES ${PROJECT_SOURCE_DIR}/include/tandrelo_mdns.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
if(WIN32)
  install(FILES ${TANDRELO_MSVC_IMPORT_LIB} ${TANDRELO_DEF_FILE}
          DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
endif()

if(TARGET tandrelo-mdns-cli)
  if(NOT WIN32)
    # The installed tool finds the library of its own tree, wherever that is.
    file(RELATIVE_PATH tandrelo_bin_to_lib /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
    set_target_properties(tandrelo-mdns-cli PROPERTIES
                          INSTALL_RPATH "$ORIGIN/${tandrelo_bin_to_lib}")
  endif()
  install(TARGETS tandrelo-mdns-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
          COMPONENT runtime)
endif()

install(EXPORT tandrelo-mdns-targets NAMESPACE tandrelo:: FILE tandrelo-mdnsTargets.cmake
        DESTINATION ${TANDRELO_PACKAGE_DIR} COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/tandrelo-mdnsConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/tandrelo-mdnsConfig.cmake
                              INSTALL_DESTINATION ${TANDRELO_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tandrelo-mdnsConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/tandrelo-mdnsConfig.cmake
              ${PROJECT_BINARY_DIR}/tandrelo-mdnsConfigVersion.cmake
        DESTINATION ${TANDRELO_PACKAGE_DIR} COMPONENT development)

# The pkg-config file names its prefix relative to its own folder.
set(TANDRELO_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH TANDRELO_PKGCONFIG_TO_PREFIX /${TANDRELO_PKGCONFIG_DIR} /)
string(REGEX REPLACE "/$" "" TANDRELO_PKGCONFIG_TO_PREFIX "${TANDRELO_PKGCONFIG_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/tandrelo-mdns.pc.in
               ${PROJECT_BINARY_DIR}/tandrelo-mdns.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tandrelo-mdns.pc
        DESTINATION ${TANDRELO_PKGCONFIG_DIR} COMPONENT development)
