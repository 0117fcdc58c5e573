# Compiles msvc_link.c for the MSVC target with clang, links it with lld-link
# against the import library tandrelo-mdns.lib and runs it beside the DLL.
#   cmake -DCLANG=... -DLLD_LINK=... -DSOURCE=msvc_link.c -DINCLUDE_DIR=include
#         -DIMPORT_LIB=.../tandrelo-mdns.lib -DOUT_DIR=<folder of the DLL>
#         "-DEMULATOR=wine|..." -P msvc_link.cmake
set(object ${OUT_DIR}/msvc_link.obj)
set(program ${OUT_DIR}/msvc_link.exe)
execute_process(COMMAND ${CLANG} --target=x86_64-pc-windows-msvc -ffreestanding -fno-builtin
                        -fno-stack-protector -O1 -I${INCLUDE_DIR} -c ${SOURCE} -o ${object}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "clang for the MSVC target failed:\n${output}")
endif()
execute_process(COMMAND ${LLD_LINK} /nologo /nodefaultlib /subsystem:console
                        /entry:msvc_link_main /out:${program} ${object} ${IMPORT_LIB}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "lld-link against ${IMPORT_LIB} failed:\n${output}")
endif()
string(REPLACE "|" ";" emulator "${EMULATOR}")
execute_process(COMMAND ${emulator} ${program} WORKING_DIRECTORY ${OUT_DIR}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${program} exited with ${result}:\n${output}")
endif()
message(STATUS "linked against tandrelo-mdns.lib with lld-link; the program ran")
