/*
 * tandrelo-mdns: Multicast DNS responder and DNS-SD browser, IPv4 only.
 *
 * Every function may be called from any thread, in any order. Text results
 * point into buffers owned by the library: read or copy a report before the
 * same function is called again. Integer results are 0 (or an index) on
 * success and a negative MDNS_ERR_* code on failure; mdns_last_error() then
 * holds an English message. Success never clears that message.
 */
#ifndef TANDRELO_MDNS_H
#define TANDRELO_MDNS_H

#include <stdint.h>

#if defined(_WIN32)
#  if defined(TANDRELO_MDNS_BUILD)
#    define TANDRELO_MDNS_API __declspec(dllexport)
#  elif defined(TANDRELO_MDNS_STATIC)
#    define TANDRELO_MDNS_API
#  else
#    define TANDRELO_MDNS_API __declspec(dllimport)
#  endif
#else
#  if defined(TANDRELO_MDNS_BUILD)
#    define TANDRELO_MDNS_API __attribute__((visibility("default")))
#  else
#    define TANDRELO_MDNS_API
#  endif
#endif

/* Result codes of the integer-returning functions. */
#define MDNS_OK 0
#define MDNS_ERR_INVALID (-1)         /* bad argument, full table, failed platform call */
#define MDNS_ERR_BIND (-2)            /* the UDP port could not be bound */
#define MDNS_ERR_THREAD (-3)          /* the receive thread could not be created */
#define MDNS_ERR_ALREADY_RUNNING (-7) /* the responder or the browser already runs */

#ifdef __cplusplus
extern "C" {
#endif

/* Library version, "1.1.0". */
TANDRELO_MDNS_API const char* mdns_version(void);
/* Message of the most recent failure, or "" if nothing has failed yet. */
TANDRELO_MDNS_API const char* mdns_last_error(void);
/* 1 while the responder runs, else 0. */
TANDRELO_MDNS_API int32_t mdns_status(void);

/* Starts the responder on a UDP port (0 means 5353) and announces. */
TANDRELO_MDNS_API int32_t mdns_start(int32_t port);
/* Stops the responder, after withdrawing its records (goodbyes with TTL 0);
 * always 0. */
TANDRELO_MDNS_API int32_t mdns_stop(void);

/* Adds a service, or updates the one with the same type and name (case
 * ignored). txt_json is a flat JSON object of attributes, or NULL.
 * Returns the entry index 0..63, or MDNS_ERR_INVALID. */
TANDRELO_MDNS_API int32_t mdns_add_service(const char* type, const char* name, int32_t port,
                                           const char* txt_json);
/* Removes every service; always 0. While the responder runs, the services'
 * records are withdrawn first (goodbyes with TTL 0). */
TANDRELO_MDNS_API int32_t mdns_clear_services(void);

/* Sets the host label (without ".local"), at most 63 bytes, no dots. */
TANDRELO_MDNS_API int32_t mdns_set_hostname(const char* label);
/* Sets the announced IPv4 address (dotted decimal); NULL or "" picks the
 * address of the best adapter (the first one with a gateway). */
TANDRELO_MDNS_API int32_t mdns_set_addr(const char* ipv4);

/* Status report, a JSON object. */
TANDRELO_MDNS_API const char* mdns_stats(void);

/* Network interfaces report, a JSON array of the usable IPv4 adapters. */
TANDRELO_MDNS_API const char* mdns_interfaces(void);
/* Pins the responder to the adapter with this IPv4 address; NULL or ""
 * returns to automatic. Restarts a running responder on its port. */
TANDRELO_MDNS_API int32_t mdns_set_interface(const char* ipv4);

/* Starts the browser: on the responder's socket while it runs, otherwise on
 * a socket of its own bound to port 5353. */
TANDRELO_MDNS_API int32_t mdns_browse_start(void);
/* Stops the browser; always 0. The cache keeps its entries. */
TANDRELO_MDNS_API int32_t mdns_browse_stop(void);
/* Browse cache report, a JSON array. */
TANDRELO_MDNS_API const char* mdns_browse_results(void);
/* Empties the browse cache; always 0. */
TANDRELO_MDNS_API int32_t mdns_browse_clear(void);

#ifdef __cplusplus
}
#endif

#endif
