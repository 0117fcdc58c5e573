# Installs the build into a fresh folder and checks that exactly the
# documented files land there, under their documented names.
#
#   cmake -DBUILD_DIR=... -DPREFIX=... -DPLATFORM=linux|windows -DTOOL=ON|OFF
#         -DCONFIG=<build type> -DBINDIR=bin -DLIBDIR=lib -DINCLUDEDIR=include
#         [-DCONSUMER_SOURCE=examples/consumer -DTOOLCHAIN=... -DGENERATOR=...]
#         -P check_install.cmake
#
# With CONSUMER_SOURCE, the consumer project is then configured with the
# toolchain file against the installed package and linked: for the Windows
# build, whose installed package the Linux phase "package" cannot try.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed:\n${output}")
endif()

set(package ${LIBDIR}/cmake/tandrelo-mdns)
string(TOLOWER "${CONFIG}" config)
if(config STREQUAL "")
  set(config noconfig)
endif()
set(expected
    ${INCLUDEDIR}/tandrelo_mdns.h
    ${package}/tandrelo-mdnsConfig.cmake
    ${package}/tandrelo-mdnsConfigVersion.cmake
    ${package}/tandrelo-mdnsTargets.cmake
    ${package}/tandrelo-mdnsTargets-${config}.cmake
    ${LIBDIR}/pkgconfig/tandrelo-mdns.pc)
set(links)
if(PLATFORM STREQUAL "windows")
  list(APPEND expected ${BINDIR}/tandrelo-mdns.dll ${LIBDIR}/tandrelo-mdns.dll.a
                       ${LIBDIR}/tandrelo-mdns.lib ${LIBDIR}/tandrelo-mdns.def)
  set(tool ${BINDIR}/tandrelo-mdns.exe)
else()
  list(APPEND expected ${LIBDIR}/libtandrelo-mdns.so.1.1.0)
  set(links ${LIBDIR}/libtandrelo-mdns.so.1 ${LIBDIR}/libtandrelo-mdns.so)
  set(tool ${BINDIR}/tandrelo-mdns)
endif()
if(TOOL)
  list(APPEND expected ${tool})
endif()
list(APPEND expected ${links})

file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE ${PREFIX} ${PREFIX}/*)
list(SORT installed)
list(SORT expected)
if(NOT installed STREQUAL expected)
  string(REPLACE ";" "\n  " installed "${installed}")
  string(REPLACE ";" "\n  " expected "${expected}")
  message(FATAL_ERROR "installed:\n  ${installed}\nexpected:\n  ${expected}")
endif()
foreach(link ${links})
  if(NOT IS_SYMLINK ${PREFIX}/${link})
    message(FATAL_ERROR "${link} is not a symbolic link")
  endif()
endforeach()

file(READ ${PREFIX}/${package}/tandrelo-mdnsTargets.cmake targets)
if(NOT targets MATCHES "add_library\\(tandrelo::mdns SHARED IMPORTED\\)"
   OR NOT targets MATCHES "INTERFACE_INCLUDE_DIRECTORIES \"\\\${_IMPORT_PREFIX}/${INCLUDEDIR}\"")
  message(FATAL_ERROR "the CMake package does not declare tandrelo::mdns with its header folder")
endif()
file(READ ${PREFIX}/${LIBDIR}/pkgconfig/tandrelo-mdns.pc pc)
if(NOT pc MATCHES "prefix=\\\${pcfiledir}/" OR NOT pc MATCHES "Libs: -L\\\${libdir} -ltandrelo-mdns")
  message(FATAL_ERROR "unexpected pkg-config file:\n${pc}")
endif()
message(STATUS "${PREFIX}: ${installed}")

if(CONSUMER_SOURCE)
  set(consumer_build ${PREFIX}-consumer)
  file(REMOVE_RECURSE ${consumer_build})
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${CONSUMER_SOURCE} -B ${consumer_build}
                          -G ${GENERATOR} -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN}
                          -Dtandrelo-mdns_DIR=${PREFIX}/${package}
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(result EQUAL 0)
    execute_process(COMMAND ${CMAKE_COMMAND} --build ${consumer_build}
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  endif()
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "the consumer does not build against the installed package:\n${output}")
  endif()
  message(STATUS "the consumer builds against the installed package")
endif()
