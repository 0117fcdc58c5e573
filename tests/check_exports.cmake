cmake_minimum_required(VERSION 3.18)
# Lists the names that the shipped library exports and fails on any name that
# is not one of the library's sixteen functions, or on a declared function
# that is missing. Works on the ELF shared object and on the PE DLL.
set(allowed
  mdns_version mdns_last_error mdns_status mdns_start mdns_stop
  mdns_add_service mdns_clear_services mdns_set_hostname mdns_set_addr
  mdns_stats mdns_interfaces mdns_set_interface mdns_browse_start
  mdns_browse_stop mdns_browse_results mdns_browse_clear)

if(LIBRARY MATCHES "\\.dll$")
  execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  # Lines of the export name table read "\t[   0] mdns_version"; those of the
  # address table before it read "\t[   0] +base[   1] 17e0 Export RVA".
  string(REGEX MATCHALL "\n\t\\[ *[0-9]+\\] [A-Za-z_][^\n]*" rows "${dump}")
  set(exported)
  foreach(row ${rows})
    string(REGEX REPLACE ".*\\] " "" name "${row}")
    list(APPEND exported ${name})
  endforeach()
else()
  execute_process(COMMAND ${OBJDUMP} -T ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  # Defined dynamic symbols: not *UND*, global (g) visibility.
  string(REGEX MATCHALL "\n[0-9a-f]+ g [^\n]*" rows "${dump}")
  set(exported)
  foreach(row ${rows})
    if(NOT row MATCHES "\\*UND\\*")
      string(REGEX REPLACE ".* " "" name "${row}")
      list(APPEND exported ${name})
    endif()
  endforeach()
endif()
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${LIBRARY}")
endif()

file(READ ${HEADER} header)
string(REGEX MATCHALL "TANDRELO_MDNS_API[^(]*[ *]mdns_[a-z_]+\\(" decls "${header}")
set(declared)
foreach(d ${decls})
  string(REGEX MATCH "mdns_[a-z_]+" name "${d}")
  list(APPEND declared ${name})
endforeach()

message(STATUS "exported: ${exported}")
set(bad)
foreach(name ${exported})
  if(NOT name IN_LIST allowed OR NOT name IN_LIST declared)
    list(APPEND bad ${name})
  endif()
endforeach()
foreach(name ${declared})
  if(NOT name IN_LIST exported)
    list(APPEND bad "missing:${name}")
  endif()
endforeach()
list(LENGTH exported count)
if(bad OR count EQUAL 0)
  message(FATAL_ERROR "unexpected exports: ${bad}")
endif()
message(STATUS "${count} exports, all of them mdns_ functions declared in the header")
