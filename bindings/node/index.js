'use strict';
// Node binding of tandrelo-mdns, over koffi. The library keeps one state per
// process (one responder, one browser, one cache): every Responder and
// Browser object drives that same one.
//
// The library file is looked up in this order: the path in the environment
// variable TANDRELO_MDNS_LIBRARY (nothing else is tried when it is set); a
// copy in this package's folder; the system loader (LD_LIBRARY_PATH and the
// standard folders on Linux, PATH on Windows).
const fs = require('fs');
const path = require('path');
const koffi = require('koffi');
const DECLARATIONS = require('./declarations');

const ENV_VAR = 'TANDRELO_MDNS_LIBRARY';
const ERR_INVALID = -1;
const ERR_BIND = -2;
const ERR_THREAD = -3;
const ERR_ALREADY_RUNNING = -7;

function libraryFileNames() {
  return process.platform === 'win32'
    ? ['tandrelo-mdns.dll'] : ['libtandrelo-mdns.so.1', 'libtandrelo-mdns.so'];
}

function load() {
  const explicit = process.env[ENV_VAR];
  if (explicit) {
    try {
      return [koffi.load(explicit), explicit];
    } catch (error) {
      throw new Error(`${ENV_VAR}=${explicit} cannot be loaded: ${error.message}`);
    }
  }
  const tried = [];
  for (const name of libraryFileNames()) {
    const file = path.join(__dirname, name);
    if (!fs.existsSync(file)) {
      tried.push(`${file} (absent)`);
      continue;
    }
    try {
      return [koffi.load(file), file];
    } catch (error) {
      tried.push(`${file} (${error.message})`);
    }
  }
  for (const name of libraryFileNames()) {
    try {
      return [koffi.load(name), name];
    } catch (error) {
      tried.push(`${name} on the system path (${error.message})`);
    }
  }
  throw new Error(`the tandrelo-mdns library was not found; set ${ENV_VAR} to its path. ` +
                  `Tried: ${tried.join('; ')}`);
}

const [library, LIBRARY] = load();
const native = {};
for (const [name, result, args] of DECLARATIONS) {
  native[name] = library.func(name, result, args);
}

class MdnsError extends Error {
  // message: the library's last-error text right after the call; code: the
  // negative result; function: the C function's name.
  constructor(fn, code, message) {
    super(message);
    this.name = 'MdnsError';
    this.function = fn;
    this.code = code;
  }
}

function lastError() {
  return native.mdns_last_error();
}

// A JS value as a text argument: null and undefined become NULL; a string
// with a NUL character is refused, since the library would stop reading there.
function text(value, what) {
  if (value === null || value === undefined) return null;
  if (typeof value !== 'string') throw new TypeError(`${what} must be a string`);
  if (value.includes('\0')) throw new TypeError(`${what} cannot contain NUL characters`);
  return value;
}

function int32(value, what) {
  if (!Number.isInteger(value) || value < -2147483648 || value > 2147483647) {
    throw new TypeError(`${what} must be a 32-bit integer`);
  }
  return value;
}

function checked(fn, ...args) {
  const result = native[fn](...args);
  if (result < 0) throw new MdnsError(fn, result, lastError());
  return result;
}

function report(fn) {
  return JSON.parse(native[fn]());
}

// TXT attributes: an object of key: value (values turned into text, true and
// false into "true" and "false"), a JSON object text, or null.
function txtJson(txt) {
  if (txt === null || txt === undefined || typeof txt === 'string') return txt ?? null;
  if (typeof txt !== 'object' || Array.isArray(txt)) {
    throw new TypeError('txt must be an object, a JSON text or null');
  }
  const pairs = Object.entries(txt).map(([key, value]) => {
    const k = String(key);
    const v = typeof value === 'boolean' ? (value ? 'true' : 'false') : String(value);
    for (const item of [k, v]) {
      // The library reads quoted text without escapes.
      if (item.includes('"') || item.includes('\\')) {
        throw new TypeError(`TXT keys and values cannot contain '"' or '\\': ${item}`);
      }
    }
    return `"${k}":"${v}"`;
  });
  return `{${pairs.join(',')}}`;
}

class Responder {
  // options: hostname, address ("" for the best adapter's), services
  // ([{type, name, port, txt}], replacing the table), port (5353), interface.
  // Fields left undefined keep the library's current setting.
  constructor(options = {}) {
    this.options = { port: 5353, ...options };
  }

  start() {
    const { hostname, address, services, port, interface: iface } = this.options;
    if (hostname !== undefined) this.setHostname(hostname);
    if (address !== undefined) this.setAddress(address);
    if (iface !== undefined) this.setInterface(iface);
    if (services !== undefined) {
      this.clearServices();
      for (const s of services) this.addService(s.type, s.name, s.port, s.txt);
    }
    checked('mdns_start', int32(port, 'port'));
    return this;
  }

  stop() { checked('mdns_stop'); }
  get running() { return native.mdns_status() === 1; }
  stats() { return report('mdns_stats'); }
  setHostname(label) { checked('mdns_set_hostname', text(label, 'hostname')); }
  setAddress(ipv4) { checked('mdns_set_addr', text(ipv4, 'address')); }
  setInterface(ipv4) { checked('mdns_set_interface', text(ipv4, 'interface')); }
  addService(type, name, port, txt = null) {
    return checked('mdns_add_service', text(type, 'type'), text(name, 'name'),
                   int32(port, 'port'), text(txtJson(txt), 'txt'));
  }
  clearServices() { checked('mdns_clear_services'); }
}

class Browser {
  start() { checked('mdns_browse_start'); return this; }
  stop() { checked('mdns_browse_stop'); }
  get running() { return report('mdns_stats').browsing === 1; }
  results() { return report('mdns_browse_results'); }
  clear() { checked('mdns_browse_clear'); }
}

module.exports = {
  ENV_VAR, LIBRARY, ERR_INVALID, ERR_BIND, ERR_THREAD, ERR_ALREADY_RUNNING,
  MdnsError, Responder, Browser, native,
  version: () => native.mdns_version(),
  lastError,
  stats: () => report('mdns_stats'),
  interfaces: () => report('mdns_interfaces'),
};
