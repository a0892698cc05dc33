/*
 * Tarnix: device control library for serial-to-Ethernet device servers.
 *
 * The whole public interface: exported functions, records and result codes.
 * Valid C and C++. Every export takes 32-bit arguments and, unless stated
 * otherwise, returns DSC_OK (1) or one of the negative DSC_E* codes below.
 * Every buffer passed in belongs to the caller; the library copies what it keeps.
 */
#ifndef TARNIX_H
#define TARNIX_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define DSC_CALL __stdcall
#else
#define DSC_CALL
#endif

#if defined(_WIN32)
#if defined(TARNIX_BUILDING)
#define DSC_EXPORT __declspec(dllexport)
#else
#define DSC_EXPORT __declspec(dllimport)
#endif
#else
#define DSC_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Result codes ---------------------------------------------------- */

#define DSC_OK 1                /* success */
#define DSC_EFAIL (-1)          /* failure without a more specific code: malformed or refused reply,
                                   identity mismatch, record update while a channel is open,
                                   out of memory during a search */
#define DSC_ETIMEOUT (-2)       /* no valid reply in the time allowed; a directed search found nothing */
#define DSC_ESOCKET (-3)        /* socket failure; also a search when the workstation has no address */
#define DSC_ECANCELLED (-4)     /* the progress procedure returned 0 */
#define DSC_EINVAL (-5)         /* invalid argument, bad or free session number; also device status 251 */
#define DSC_EFILE (-6)          /* a file to be sent cannot be opened */
#define DSC_ESTATUS254 (-7)     /* the device answered with status 254 */
#define DSC_ESTATUS252 (-9)     /* the device answered with status 252 or 255 */
#define DSC_ENOSESSION (-10)    /* dsc_Attach: all 256 sessions are in use */
#define DSC_ENOMEM (-11)        /* dsc_Attach: no memory for the record copy */
#define DSC_ENOCHANNEL (-12)    /* the export needs an open session channel and the session has none */

/* ---- Records --------------------------------------------------------- */

/* DSINFO.flags bit 0: the device is reached by ordinary routing. When clear,
   every exchange is wrapped in a temporary neighbour entry and host route. */
#define DSC_FLAG_DIRECT 0x01

/* The device record, 28 bytes. Addresses are IPv4 in network byte order;
   application ID and model code keep the bytes the device sent (little-endian). */
typedef struct DSINFO {
    uint32_t app_id;       /* application ID */
    uint16_t model;        /* model code */
    uint8_t flags;         /* DSC_FLAG_DIRECT in bit 0, other bits 0 */
    uint8_t reserved1;     /* 0 */
    uint32_t reported_ip;  /* address stated in the device's search reply */
    uint32_t device_ip;    /* address every datagram and connection goes to */
    uint32_t local_ip;     /* workstation address on which the search reply arrived */
    uint8_t mac[6];        /* Ethernet address, wire order */
    uint8_t reserved2[2];  /* 0 */
} DSINFO;

/* ---- Callbacks ------------------------------------------------------- */

/* Progress procedure, called on the caller's thread while an export waits.
   code: the query's command code, or 0x80000000 | command code on the session
   channel; stage and percent: 0 while a query or command is waited for.
   Return 0 to cancel the operation (DSC_ECANCELLED). */
typedef int32_t(DSC_CALL *DSC_PROGRESS_PROC)(uint32_t code, int32_t stage, int32_t percent, int32_t user);

/* Search procedure of dsc_EnumSearch. Called with each newly found device (the
   record is valid only during the call: copy what you keep) and with NULL at the
   end of every round. Return non-zero to go on, 0 to stop the search (for a
   record, 0 also discards it). */
typedef int32_t(DSC_CALL *DSC_SEARCH_PROC)(DSINFO *info);

/* ---- Frame and options ----------------------------------------------- */

/* Attaches a copy of *record to the lowest free session and writes its number
   (0 to 255) to *session. DSC_EINVAL for a null pointer (nothing written);
   DSC_ENOSESSION when all 256 are in use (*session = -2); DSC_ENOMEM when the
   copy cannot be allocated (*session = -1). Sends nothing. */
DSC_EXPORT int32_t DSC_CALL dsc_Attach(const DSINFO *record, int32_t *session);

/* Frees a session (closing its channel first, if open). DSC_EINVAL for a
   number outside 0 to 255 or a free session. Timing values survive. */
DSC_EXPORT int32_t DSC_CALL dsc_Detach(int32_t session);

/* Replaces the session's record copy with *record. DSC_EINVAL for a bad session
   or a null record; DSC_EFAIL while the session has an open channel. */
DSC_EXPORT int32_t DSC_CALL dsc_UpdateDSINFO(int32_t session, const DSINFO *record);

/* Sets the session's reply time-out (ms) and retry count; a negative value keeps
   that field. Initially 1000 ms and 5. DSC_EINVAL for a bad session. */
DSC_EXPORT int32_t DSC_CALL dsc_LibSetTimeout(int32_t session, int32_t timeout, int32_t retries);

/* Sets the session's progress procedure (NULL: none) and the user value passed
   back to it. DSC_EINVAL for a bad session. */
DSC_EXPORT int32_t DSC_CALL dsc_LibSetProc(int32_t session, DSC_PROGRESS_PROC proc, int32_t user);

/* Sets the session's upgrade time-out (ms, initially 60000), unchecked.
   DSC_EINVAL for a bad session. */
DSC_EXPORT int32_t DSC_CALL dsc_LibSetUpgTimeout(int32_t session, int32_t timeout);

/* Sets the library-wide search time-out (ms per round, initially 1000) and
   retry count (idle rounds, initially 5); a negative value keeps that field. */
DSC_EXPORT void DSC_CALL dsc_SetSearchOpt(int32_t timeout, int32_t retries);

/* ---- Search ---------------------------------------------------------- */

/* Finds devices. address 0 or -1: broadcast through every local address; any
   other value: the IPv4 address (network order) of the one device to ask.
   Each new device is handed to proc. DSC_OK when the search ended normally;
   DSC_ETIMEOUT for a directed search that found nothing; DSC_EINVAL for a null
   proc (nothing sent); DSC_ESOCKET on a socket failure or when the workstation
   has no IPv4 address; DSC_EFAIL when memory for a found record runs out.
   One search runs at a time in the process; a second caller waits. */
DSC_EXPORT int32_t DSC_CALL dsc_EnumSearch(int32_t address, DSC_SEARCH_PROC proc);

#ifdef __cplusplus
}
#endif

#endif /* TARNIX_H */
