'use strict';
// The sixteen functions of include/tandrelo_mdns.h as koffi declares them:
// [name, result type, argument types]. Texts are 'const char *': koffi
// passes a JS string as NUL-terminated UTF-8 and copies a text result into
// a JS string, never freeing or writing the library's buffer.
// tests/bindings/check_declarations.py compares this table with the header.
const TEXT = 'const char *';
const INT = 'int32_t';

module.exports = [
  ['mdns_version', TEXT, []],
  ['mdns_last_error', TEXT, []],
  ['mdns_status', INT, []],
  ['mdns_start', INT, [INT]],
  ['mdns_stop', INT, []],
  ['mdns_add_service', INT, [TEXT, TEXT, INT, TEXT]],
  ['mdns_clear_services', INT, []],
  ['mdns_set_hostname', INT, [TEXT]],
  ['mdns_set_addr', INT, [TEXT]],
  ['mdns_stats', TEXT, []],
  ['mdns_interfaces', TEXT, []],
  ['mdns_set_interface', INT, [TEXT]],
  ['mdns_browse_start', INT, []],
  ['mdns_browse_stop', INT, []],
  ['mdns_browse_results', TEXT, []],
  ['mdns_browse_clear', INT, []],
];
