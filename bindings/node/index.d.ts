// Type declarations of the Node binding of tandrelo-mdns.
// The library keeps one state per process: every Responder and Browser
// object drives the same responder, browser and cache.

export const ENV_VAR: 'TANDRELO_MDNS_LIBRARY';
/** The file or name that was loaded. */
export const LIBRARY: string;
export const ERR_INVALID: -1;
export const ERR_BIND: -2;
export const ERR_THREAD: -3;
export const ERR_ALREADY_RUNNING: -7;

/** A library function returned a negative code. */
export class MdnsError extends Error {
  /** The C function's name, for instance "mdns_start". */
  readonly function: string;
  /** The negative result: ERR_INVALID, ERR_BIND, ERR_THREAD or ERR_ALREADY_RUNNING. */
  readonly code: number;
  /** The library's last-error text right after the call. */
  readonly message: string;
}

/** TXT attributes: key to value (true and false become "true" and "false"),
 *  a flat JSON object text, or null. */
export type Txt = Record<string, string | number | boolean> | string | null;

export interface ServiceOptions {
  type: string;
  name: string;
  port: number;
  txt?: Txt;
}

export interface ResponderOptions {
  hostname?: string;
  /** "" picks the best adapter's address. */
  address?: string;
  /** Replaces the service table when given. */
  services?: ServiceOptions[];
  /** UDP port, 5353 by default. */
  port?: number;
  /** "" returns to automatic. */
  interface?: string;
}

export interface ServiceStatus {
  type: string;
  name: string;
  port: number;
  txt: Record<string, string> | string;
}

export interface Stats {
  running: 0 | 1;
  port: number;
  queries: number;
  answers: number;
  hostname: string;
  addr: string;
  interface: string;
  browsing: 0 | 1;
  browse_count: number;
  services_count: number;
  services: ServiceStatus[];
}

export interface Adapter {
  ip: string;
  name: string;
  gateway: string;
  up: 1;
  loopback: 0;
}

export interface BrowseRecord {
  name: string;
  /** 1 A, 12 PTR, 16 TXT, 33 SRV. */
  rrtype: 1 | 12 | 16 | 33;
  ip: string;
  port: number;
  target: string;
  txt: string;
  from: string;
  /** Milliseconds since 1970. */
  last_seen: number;
}

export class Responder {
  constructor(options?: ResponderOptions);
  start(): this;
  stop(): void;
  readonly running: boolean;
  stats(): Stats;
  setHostname(label: string | null): void;
  setAddress(ipv4: string | null): void;
  setInterface(ipv4: string | null): void;
  /** Returns the entry's index in the table. */
  addService(type: string, name: string, port: number, txt?: Txt): number;
  clearServices(): void;
}

export class Browser {
  start(): this;
  stop(): void;
  readonly running: boolean;
  results(): BrowseRecord[];
  clear(): void;
}

/** The raw functions, as declared in declarations.js. */
export const native: {
  mdns_version(): string;
  mdns_last_error(): string;
  mdns_status(): number;
  mdns_start(port: number): number;
  mdns_stop(): number;
  mdns_add_service(type: string | null, name: string | null, port: number,
                   txtJson: string | null): number;
  mdns_clear_services(): number;
  mdns_set_hostname(label: string | null): number;
  mdns_set_addr(ipv4: string | null): number;
  mdns_stats(): string;
  mdns_interfaces(): string;
  mdns_set_interface(ipv4: string | null): number;
  mdns_browse_start(): number;
  mdns_browse_stop(): number;
  mdns_browse_results(): string;
  mdns_browse_clear(): number;
};

export function version(): string;
export function lastError(): string;
export function stats(): Stats;
export function interfaces(): Adapter[];
