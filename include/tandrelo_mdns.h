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

#ifdef __cplusplus
}
#endif

#endif
