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

#include <stddef.h>
#include <stdint.h>
#if defined(_WIN32)
#include <windows.h> /* SYSTEMTIME */
#endif

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

/* Payload records. Multi-byte values are little-endian as the device sends
   them; addresses stay in network byte order. Fields named value, byte or
   data are carried for the caller without interpretation. */

/* dsc_GetAPInfo: application information, 56 bytes. */
typedef struct APINFO {
    char name[40];      /* NUL-terminated, at most 39 characters */
    uint32_t version;   /* bytes 3, 2, 1 read as major.minor.patch */
    uint16_t value44;
    uint8_t byte46;
    uint8_t byte47;
    uint8_t byte48;
    uint8_t byte49;
    uint8_t unwritten50[2]; /* never written by the library */
    uint32_t value52;
} APINFO;

/* KERNELINFO.flags bit 0: the device has a login password. */
#define DSC_KERNEL_FLAG_PASSWORD 0x0001

/* dsc_GetKernelInfo: kernel information, 16 bytes. */
typedef struct KERNELINFO {
    uint32_t version;
    uint32_t value4;
    uint32_t value8;
    uint16_t flags;
    uint16_t value14;
} KERNELINFO;

/* dsc_GetFsInfo: 48 bytes carried unchanged. */
typedef struct FSINFO {
    uint8_t data[48];
} FSINFO;

/* dsc_GetTime: the device clock, 16 bytes. */
typedef struct TIMEINFO {
    uint16_t year;         /* counted from 1900 */
    uint16_t month;        /* counted from 0 (January) */
    uint16_t day_of_week;
    uint16_t day;
    uint16_t hour;
    uint16_t minute;
    uint16_t second;
    uint16_t millisecond;
} TIMEINFO;

/* dsc_GetIPLocation: 44 bytes. */
typedef struct IPLOCATIONINFO {
    char text[40];      /* NUL-terminated, at most 39 characters */
    uint16_t value40;
    uint16_t value42;
} IPLOCATIONINFO;

/* dsc_GetSNMP: 164 bytes. text[1] and text[2] travel in the opposite order on
   the wire (text[2] first). */
typedef struct SNMPINFO {
    uint8_t setting;
    uint8_t unwritten1[3]; /* never written by the library */
    char text[4][40];
} SNMPINFO;

/* dsc_GetMailAlert: 364 bytes. */
typedef struct MAILALERTINFO {
    char text[40];
    uint32_t value40;
    char blocks[5][64];
} MAILALERTINFO;

/* dsc_GetAlert: 6 bytes. */
typedef struct ALERTINFO {
    uint16_t values[3];
} ALERTINFO;

/* dsc_GetCmdState: 8 bytes. */
typedef struct CMDSTATEINFO {
    uint32_t values[2];
} CMDSTATEINFO;

/* dsc_GetPHYStatus: 8 bytes. */
typedef struct PHYSTATUSINFO {
    uint8_t byte0;
    uint8_t byte1;
    uint16_t value2;
    uint8_t bytes4[4];
} PHYSTATUSINFO;

/* Table entries. */

/* dsc_GetIfConfig: one network interface, 16 bytes. */
typedef struct IFCONFIGINFO {
    uint16_t number;    /* interface number */
    uint16_t value2;
    uint32_t ip;
    uint32_t netmask;
    uint32_t gateway;
} IFCONFIGINFO;

/* dsc_GetNetstat, dsc_GetNetstat_ex: one connection, 16 bytes. */
typedef struct NETSTATINFO {
    uint32_t value0;
    uint32_t value4;
    uint16_t value8;
    uint16_t value10;
    uint8_t byte12;
    uint8_t byte13;
    uint8_t byte14;
    uint8_t zero15;     /* always 0 */
} NETSTATINFO;

/* dsc_GetIPFilter: one filter entry, 12 bytes. */
typedef struct IPFILTERINFO {
    uint8_t data[12];
} IPFILTERINFO;

/* dsc_GetPPPStatus: one port, 12 bytes. */
typedef struct PPPSTATUSINFO {
    uint8_t data[12];
} PPPSTATUSINFO;

/* dsc_GetPPPStatistic: one port, 16 bytes. */
typedef struct PPPSTATISTICINFO {
    uint8_t data[16];
} PPPSTATISTICINFO;

/* dsc_GetRouting: one route, 20 bytes. */
typedef struct ROUTINGINFO {
    uint8_t data[20];
} ROUTINGINFO;

/* dsc_SetPPPConfig, dsc_GetPPPConfig: one PPP configuration entry, 168 bytes. */
typedef struct PPPCONFIGINFO {
    uint8_t settings[4];
    char text4[20];
    char secret[20];     /* masked on the wire; at most 19 characters are sent */
    uint32_t values[4];
    uint8_t settings60[2];
    uint8_t unused62[2]; /* not sent; zero in what the library returns */
    char text64[52];
    char text116[52];
} PPPCONFIGINFO;

/* dsc_SetPPPAuthTable, dsc_GetPPPAuthTable: 16 names, then 16 secrets. */
typedef struct PPPAUTHTABLEINFO {
    char names[16][20];
    char secrets[16][20]; /* masked on the wire; at most 19 characters are sent */
} PPPAUTHTABLEINFO;

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

/* ---- Session channel --------------------------------------------------- */

/* Opens the session channel (TCP port 4900) and logs in: the password (at most
   15 characters) goes as MD5 over it and the device's challenge, or in plain
   form for application IDs 0x80004000 to 0x800040FF. A channel already open
   is closed first. DSC_EINVAL for a null or too long password or a bad session
   (nothing sent); DSC_ETIMEOUT when no connection is made within time-out x
   retry count (a refused connection included) or the device does not answer;
   DSC_EINVAL too when the device refuses the password (status 251); the
   device's other refusals as DSC_ESTATUS254, DSC_ESTATUS252 or DSC_EFAIL. On
   failure the session has no channel. */
DSC_EXPORT int32_t DSC_CALL dsc_Login(int32_t session, const char *password);
/* Closes the channel. DSC_EINVAL for a bad session, DSC_ENOCHANNEL without one. */
DSC_EXPORT int32_t DSC_CALL dsc_Logout(int32_t session);

/* ---- Configuration commands -------------------------------------------
   Each sends one frame over the logged-in channel. Checks, in order: the
   session (DSC_EINVAL), the channel (DSC_ENOCHANNEL), the arguments
   (DSC_EINVAL); nothing is sent when one fails. Device refusals come back as
   DSC_EINVAL (251), DSC_ESTATUS254, DSC_ESTATUS252 (252, 255), DSC_ETIMEOUT
   (253 or no reply) or DSC_EFAIL. Interface numbers are 0 to 64 or 255.
   Texts go NUL-terminated in 40-byte fields and must be shorter than 40
   characters. Null pointers are refused with DSC_EINVAL (dsc_SetName and
   dsc_SetIPLocation check theirs before the session). */

/* Save the settings and restart (mode 0), or restart only (mode 2). */
DSC_EXPORT int32_t DSC_CALL dsc_SaveAndRestart(int32_t session);
DSC_EXPORT int32_t DSC_CALL dsc_Restart(int32_t session);
DSC_EXPORT int32_t DSC_CALL dsc_RunOrStopUserAp(int32_t session, int32_t value);
DSC_EXPORT int32_t DSC_CALL dsc_ClearUserAP(int32_t session);
DSC_EXPORT int32_t DSC_CALL dsc_SetSDKDevFlag(int32_t session, int32_t flag);
DSC_EXPORT int32_t DSC_CALL dsc_SetName(int32_t session, const char *name);
DSC_EXPORT int32_t DSC_CALL dsc_SetWatchdog(int32_t session, int32_t value);
DSC_EXPORT int32_t DSC_CALL dsc_SetDebug(int32_t session, int32_t value);
DSC_EXPORT int32_t DSC_CALL dsc_SetToFactoryDefault(int32_t session);
/* Refused when the last octet of address1 or address4 is 0 or 255, or the
   low byte of type is neither 1 nor 2. */
DSC_EXPORT int32_t DSC_CALL dsc_SetChangeFirmware(int32_t session, uint32_t address1, int32_t value2, int32_t value3,
                                                  uint32_t address4, int32_t type);
DSC_EXPORT int32_t DSC_CALL dsc_SetConsole(int32_t session, int32_t value);
DSC_EXPORT int32_t DSC_CALL dsc_SetTime(int32_t session, const TIMEINFO *time);
DSC_EXPORT int32_t DSC_CALL dsc_SetTimeServer(int32_t session, const char *server);
DSC_EXPORT int32_t DSC_CALL dsc_SetTimeZone(int32_t session, int32_t value1, int32_t value2);
DSC_EXPORT int32_t DSC_CALL dsc_Erase_APConfig_Bank(int32_t session, int32_t bank);
/* Refused when the address's last octet is 0 or 255. */
DSC_EXPORT int32_t DSC_CALL dsc_SetIP(int32_t session, int32_t iface, uint32_t address);
DSC_EXPORT int32_t DSC_CALL dsc_SetNetmask(int32_t session, int32_t iface, uint32_t mask);
DSC_EXPORT int32_t DSC_CALL dsc_SetGateway(int32_t session, int32_t iface, uint32_t address);
DSC_EXPORT int32_t DSC_CALL dsc_SetIPConfig(int32_t session, int32_t iface, int32_t value);
DSC_EXPORT int32_t DSC_CALL dsc_SetIPLocation(int32_t session, int32_t iface, const IPLOCATIONINFO *location);
/* Interface 1 to 64 or 255: interface 0 is refused here. */
DSC_EXPORT int32_t DSC_CALL dsc_SetDNS(int32_t session, int32_t iface, uint32_t dns1, uint32_t dns2);
DSC_EXPORT int32_t DSC_CALL dsc_SetSNMP(int32_t session, const SNMPINFO *snmp);
DSC_EXPORT int32_t DSC_CALL dsc_SetMailAlert(int32_t session, const MAILALERTINFO *alert);
/* The two bytes at mode. */
DSC_EXPORT int32_t DSC_CALL dsc_SetPhyMode(int32_t session, const unsigned char *mode);
/* Sends entries[0..15] by index, then value with entries[0]: 17 frames,
   stopping at the first one that fails. */
DSC_EXPORT int32_t DSC_CALL dsc_SetIPFilter(int32_t session, int32_t value, const IPFILTERINFO *entries);
DSC_EXPORT int32_t DSC_CALL dsc_SetAlert(int32_t session, const ALERTINFO *alert);
DSC_EXPORT int32_t DSC_CALL dsc_ClearLog(int32_t session);
DSC_EXPORT int32_t DSC_CALL dsc_SetCmdState(int32_t session, const CMDSTATEINFO *state);
DSC_EXPORT int32_t DSC_CALL dsc_SetModemSetting(int32_t session, int32_t value);

/* ---- Masked commands ----------------------------------------------------
   Secrets travel masked with MD5 over the session's login password and a
   nonce. Checks as for the configuration commands; dsc_SetPassword and
   dsc_SetPrivateKey test their text for null before the session. */

/* New device password, at most 15 characters. The login password that masks
   later commands of this login stays the one logged in with. */
DSC_EXPORT int32_t DSC_CALL dsc_SetPassword(int32_t session, const char *password);
/* Private key, at most 14 characters. */
DSC_EXPORT int32_t DSC_CALL dsc_SetPrivateKey(int32_t session, const char *key);
/* Account name and password, each cut to 15 characters. */
DSC_EXPORT int32_t DSC_CALL dsc_SetMailAcount(int32_t session, const char *account, const char *password);
/* Writes 15 bytes to each buffer (NUL-padded, unterminated at 15 characters);
   on failure both are left untouched. */
DSC_EXPORT int32_t DSC_CALL dsc_RetriveMailAcount(int32_t session, char *account, char *password);
/* entry 0 to 16. */
DSC_EXPORT int32_t DSC_CALL dsc_SetPPPConfig(int32_t session, int32_t entry, const PPPCONFIGINFO *config);
/* entry 1 to 16: that entry into config[0]. entry 0: every entry the device
   reports, entry k into config[k - 1]; the device's count is taken as at most
   16, config[] must hold that many records (at least one), they are cleared
   first, and entries decoded before a failure stay. */
DSC_EXPORT int32_t DSC_CALL dsc_GetPPPConfig(int32_t session, int32_t entry, PPPCONFIGINFO *config);
/* count 0 to 16 entries of the table are sent, the rest as zeros. */
DSC_EXPORT int32_t DSC_CALL dsc_SetPPPAuthTable(int32_t session, int32_t count, const PPPAUTHTABLEINFO *table);
/* Clears *table, then fills the device's entries; *count receives how many
   (at most 16), and 0 when the command fails. */
DSC_EXPORT int32_t DSC_CALL dsc_GetPPPAuthTable(int32_t session, int32_t *count, PPPAUTHTABLEINFO *table);

/* ---- Queries ----------------------------------------------------------
   Read-only requests answered without a login. Every one takes the session
   first and returns DSC_OK, DSC_EINVAL (bad session, null pointer, value out
   of range: nothing sent), DSC_ETIMEOUT, DSC_ESOCKET or DSC_ECANCELLED.
   A failed query leaves every output untouched. */

/* Completes *record from the device at its device address: application ID,
   model code and MAC when zero in *record (otherwise they must match:
   DSC_EFAIL), reported address when zero. The session's record becomes the
   completed one; on failure it is restored. */
DSC_EXPORT int32_t DSC_CALL dsc_GetDSINFO(int32_t session, DSINFO *record);
/* Sends the locate command with the low 16 bits of value. */
DSC_EXPORT int32_t DSC_CALL dsc_Locate(int32_t session, int32_t value);
/* Device name: exactly 39 bytes are written, the text NUL-padded; a name of
   39 or more characters arrives unterminated (give 40 bytes and a NUL). */
DSC_EXPORT int32_t DSC_CALL dsc_GetName(int32_t session, char *name);
DSC_EXPORT int32_t DSC_CALL dsc_GetFsInfo(int32_t session, FSINFO *out);
/* 1 when the watchdog is on, else 0. */
DSC_EXPORT int32_t DSC_CALL dsc_GetWatchdog(int32_t session, int32_t *out);
DSC_EXPORT int32_t DSC_CALL dsc_GetDebug(int32_t session, int32_t *out);
/* Clears out->name first; out->unwritten50 keeps its bytes. */
DSC_EXPORT int32_t DSC_CALL dsc_GetAPInfo(int32_t session, APINFO *out);
DSC_EXPORT int32_t DSC_CALL dsc_GetKernelInfo(int32_t session, KERNELINFO *out);
DSC_EXPORT int32_t DSC_CALL dsc_GetAPStatus(int32_t session, int32_t *out);
/* 0: running mode, 1: development mode. */
DSC_EXPORT int32_t DSC_CALL dsc_GetEnvironmentMode(int32_t session, int32_t *out);
DSC_EXPORT int32_t DSC_CALL dsc_GetConsole(int32_t session, int32_t *out);
DSC_EXPORT int32_t DSC_CALL dsc_GetTime(int32_t session, TIMEINFO *out);
/* Time server name, written like dsc_GetName. */
DSC_EXPORT int32_t DSC_CALL dsc_GetTimeServer(int32_t session, char *name);
/* offset: seconds from UTC; index: the time zone index. */
DSC_EXPORT int32_t DSC_CALL dsc_GetTimeZone(int32_t session, int32_t *offset, int32_t *index);
/* The interface number of these six queries is 0 to 64 or 255. */
DSC_EXPORT int32_t DSC_CALL dsc_GetIP(int32_t session, int32_t iface, uint32_t *address);
DSC_EXPORT int32_t DSC_CALL dsc_GetNetmask(int32_t session, int32_t iface, uint32_t *mask);
DSC_EXPORT int32_t DSC_CALL dsc_GetGateway(int32_t session, int32_t iface, uint32_t *address);
/* The interface's IP mode byte. */
DSC_EXPORT int32_t DSC_CALL dsc_GetIPConfig(int32_t session, int32_t iface, int32_t *out);
/* Writes the text and its NUL; bytes after the NUL keep their values. */
DSC_EXPORT int32_t DSC_CALL dsc_GetIPLocation(int32_t session, int32_t iface, IPLOCATIONINFO *out);
DSC_EXPORT int32_t DSC_CALL dsc_GetDNS(int32_t session, int32_t iface, uint32_t *first, uint32_t *second);
/* Writes setting and text; out->unwritten1 keeps its bytes. */
DSC_EXPORT int32_t DSC_CALL dsc_GetSNMP(int32_t session, SNMPINFO *out);
DSC_EXPORT int32_t DSC_CALL dsc_GetMailAlert(int32_t session, MAILALERTINFO *out);
/* Sends the low 8 bits of port. */
DSC_EXPORT int32_t DSC_CALL dsc_GetPHYStatus(int32_t session, int32_t port, PHYSTATUSINFO *out);
DSC_EXPORT int32_t DSC_CALL dsc_GetAlert(int32_t session, ALERTINFO *out);
DSC_EXPORT int32_t DSC_CALL dsc_GetCmdState(int32_t session, CMDSTATEINFO *out);
DSC_EXPORT int32_t DSC_CALL dsc_GetModemSetting(int32_t session, char *out);

/* ---- Table queries ------------------------------------------------------ */

/* Up to count (1 to 64) interfaces into entries[count], which is cleared
   first; *got receives how many arrived. */
DSC_EXPORT int32_t DSC_CALL dsc_GetIfConfig(int32_t session, int32_t count, int32_t *got, IFCONFIGINFO *entries);
/* Up to count (1 to 256) connections into entries[count], cleared first. */
DSC_EXPORT int32_t DSC_CALL dsc_GetNetstat(int32_t session, int32_t count, int32_t *got, NETSTATINFO *entries);
/* As dsc_GetNetstat, page by page until count entries arrived or the device
   has no more. entries[count] is cleared before the first request; on failure
   the entries of earlier pages stay and *got is not written. A page that
   brings no entry ends the reading, whatever continuation it announces. */
DSC_EXPORT int32_t DSC_CALL dsc_GetNetstat_ex(int32_t session, int32_t count, int32_t *got, NETSTATINFO *entries);
/* index 0: the setting byte and every entry (entries[16]); index n: entry n
   alone into entries[0]. The array is not cleared. */
DSC_EXPORT int32_t DSC_CALL dsc_GetIPFilter(int32_t session, int32_t index, int32_t *setting, IPFILTERINFO *entries);
/* port 0 to 16; port 0: every port into entries[16], else one entry.
   The array is not cleared. */
DSC_EXPORT int32_t DSC_CALL dsc_GetPPPStatus(int32_t session, int32_t port, PPPSTATUSINFO *entries);
DSC_EXPORT int32_t DSC_CALL dsc_GetPPPStatistic(int32_t session, int32_t port, PPPSTATISTICINFO *entries);
/* Up to 32 routes into entries[32]; *count receives how many. */
DSC_EXPORT int32_t DSC_CALL dsc_GetRouting(int32_t session, int32_t *count, ROUTINGINFO *entries);

/* ---- Serial ports, port operation and DIO --------------------------------
   Ports are numbered 1 to DSC_MAX_PORTS. A query for port 0 asks for every
   port: its output array must then hold DSC_MAX_PORTS elements, and receives
   as many as the device reports (at most 16); a query for one port writes one
   element. A reply shorter than the entries it announces gives only the
   entries it holds in full. Commands pass port 0 to 16 to the device as is.
   Queries check the session, the output pointer and the port (DSC_EINVAL);
   commands check the session (DSC_EINVAL), the channel (DSC_ENOCHANNEL), then
   the port and pointers (DSC_EINVAL). Multi-byte values are little-endian as
   the device sends them; fields named value, setting or block are carried
   for the caller without interpretation. */

#if defined(__cplusplus)
#define DSC_LAYOUT(cond) static_assert(cond, #cond)
#else
#define DSC_LAYOUT(cond) _Static_assert(cond, #cond)
#endif

#define DSC_MAX_PORTS 16

/* The line rates a device knows, in bits per second. dsc_SetSerialIOCtl takes
   the index of a rate in this table, and SERIALIOCTLINFO.rate reports the
   rate itself. Use as an initialiser:
   static const uint32_t rates[DSC_SERIAL_RATE_COUNT] = DSC_SERIAL_RATES; */
#define DSC_SERIAL_RATE_COUNT 18
#define DSC_SERIAL_RATES                                                          \
    {                                                                             \
        50, 75, 110, 134, 150, 300, 600, 1200, 1800, 2400, 4800, 7200, 9600,      \
            19200, 38400, 57600, 115200, 230400                                   \
    }

/* SERIALIOCTLINFO.format and the line format of dsc_SetSerialIOCtl. */
#define DSC_LINE_DATA_MASK 0x03   /* data bits: 0 = 5, 1 = 6, 2 = 7, 3 = 8 */
#define DSC_LINE_STOP_TWO 0x04    /* two stop bits; clear: one */
#define DSC_LINE_PARITY_MASK 0x38
#define DSC_LINE_PARITY_NONE 0x00
#define DSC_LINE_PARITY_ODD 0x08
#define DSC_LINE_PARITY_EVEN 0x18

/* dsc_GetSerialIOCtl: one port's line settings, 8 bytes. */
typedef struct SERIALIOCTLINFO {
    uint32_t rate;      /* bits per second */
    uint8_t format;     /* DSC_LINE_* bits */
    uint8_t option;
    uint8_t zero6[2];   /* always 0 in what the library returns */
} SERIALIOCTLINFO;
DSC_LAYOUT(sizeof(SERIALIOCTLINFO) == 8 && offsetof(SERIALIOCTLINFO, format) == 4 &&
           offsetof(SERIALIOCTLINFO, zero6) == 6);

/* dsc_GetSerialDataCount: four counters of one port, 16 bytes. */
typedef struct SERIALDATACOUNTINFO {
    uint32_t counts[4];
} SERIALDATACOUNTINFO;
DSC_LAYOUT(sizeof(SERIALDATACOUNTINFO) == 16);

/* dsc_GetDataPacking, dsc_SetDataPacking: 8 bytes. */
typedef struct DATAPACKINGINFO {
    uint8_t settings[3];
    uint8_t unsent3;    /* not sent by dsc_SetDataPacking */
    uint32_t value4;
} DATAPACKINGINFO;
DSC_LAYOUT(sizeof(DATAPACKINGINFO) == 8 && offsetof(DATAPACKINGINFO, value4) == 4);

/* dsc_GetTCPServerMode, dsc_SetTCPSvrMode: 8 bytes. */
typedef struct _TCPSVRINFO {
    uint16_t value0;
    uint16_t value2;
    uint8_t setting4;
    uint8_t unsent5[3]; /* not sent by dsc_SetTCPSvrMode */
} _TCPSVRINFO;
DSC_LAYOUT(sizeof(_TCPSVRINFO) == 8 && offsetof(_TCPSVRINFO, setting4) == 4);

/* dsc_GetTCPClientMode, dsc_SetTCPCliMode: one port, 172 bytes. */
typedef struct TCPCLIENTMODEINFO {
    char texts[4][40];    /* NUL-terminated, at most 39 characters each */
    uint16_t values[4];
    uint8_t setting168;
    uint8_t unsent169[3]; /* not sent by dsc_SetTCPCliMode */
} TCPCLIENTMODEINFO;
DSC_LAYOUT(sizeof(TCPCLIENTMODEINFO) == 172 && offsetof(TCPCLIENTMODEINFO, values) == 160 &&
           offsetof(TCPCLIENTMODEINFO, setting168) == 168);

/* dsc_GetUDPMode, dsc_SetUDPMode: 52 bytes. */
typedef struct UDPMODEINFO {
    uint8_t block[48];
    uint16_t value48;
    uint8_t unsent50[2];  /* not sent by dsc_SetUDPMode */
} UDPMODEINFO;
DSC_LAYOUT(sizeof(UDPMODEINFO) == 52 && offsetof(UDPMODEINFO, value48) == 48);

/* dsc_GetPortAlert, dsc_SetPortAlert: 4 bytes. */
typedef struct PORTALERTINFO {
    uint8_t settings[3];
    uint8_t unsent3;      /* not sent by dsc_SetPortAlert */
} PORTALERTINFO;
DSC_LAYOUT(sizeof(PORTALERTINFO) == 4);

/* Queries. The selector byte goes to the device unchanged (Velmora passes 1). */
DSC_EXPORT int32_t DSC_CALL dsc_GetSerialIOCtl(int32_t session, int32_t port, int32_t selector, SERIALIOCTLINFO *out);
DSC_EXPORT int32_t DSC_CALL dsc_GetSerialFIFO(int32_t session, int32_t port, int32_t selector, uint8_t *out);
/* Interface type 0 is RS232. */
DSC_EXPORT int32_t DSC_CALL dsc_GetSerialInterface(int32_t session, int32_t port, int32_t selector, uint8_t *out);
DSC_EXPORT int32_t DSC_CALL dsc_GetSerialLineStatus(int32_t session, int32_t port, uint8_t *out);
DSC_EXPORT int32_t DSC_CALL dsc_GetSerialDataCount(int32_t session, int32_t port, SERIALDATACOUNTINFO *out);
/* names: 16 bytes per port; each is NUL-terminated, at most 15 characters. */
DSC_EXPORT int32_t DSC_CALL dsc_GetSerialPortName(int32_t session, int32_t port, char *names);
/* The device's signed operation mode byte, sign-extended. */
DSC_EXPORT int32_t DSC_CALL dsc_GetOpMode(int32_t session, int32_t port, int32_t *out);
DSC_EXPORT int32_t DSC_CALL dsc_GetDataPacking(int32_t session, int32_t port, DATAPACKINGINFO *out);
/* The low 16 bits of the device's 32-bit values. */
DSC_EXPORT int32_t DSC_CALL dsc_GetInactivityTime(int32_t session, int32_t port, uint16_t *out);
DSC_EXPORT int32_t DSC_CALL dsc_GetTCPAliveTime(int32_t session, int32_t port, uint16_t *out);
DSC_EXPORT int32_t DSC_CALL dsc_GetDriverMode(int32_t session, int32_t port, uint8_t *out);
DSC_EXPORT int32_t DSC_CALL dsc_GetTCPServerMode(int32_t session, int32_t port, _TCPSVRINFO *out);
/* port 1 to 16 only: one record. */
DSC_EXPORT int32_t DSC_CALL dsc_GetTCPClientMode(int32_t session, int32_t port, TCPCLIENTMODEINFO *out);
DSC_EXPORT int32_t DSC_CALL dsc_GetUDPMode(int32_t session, int32_t port, UDPMODEINFO *out);
DSC_EXPORT int32_t DSC_CALL dsc_GetPortAlert(int32_t session, int32_t port, PORTALERTINFO *out);

/* DIO channels first .. end - 1 (numbered from 0) into out[end - first]:
   element i - first is the channel's bit with its own weight (1 << i) or 0.
   Refused when first or end is negative or first + end exceeds the channel
   count of the last dsc_GetMaxDIO (initially 8). */
DSC_EXPORT int32_t DSC_CALL dsc_GetDIOMode(int32_t session, int32_t first, int32_t end, int32_t *out);
DSC_EXPORT int32_t DSC_CALL dsc_GetDIOState(int32_t session, int32_t first, int32_t end, int32_t *out);
/* The DIO channel count of the session's model (4 for model codes 0x41xx,
   else 8), without an exchange; it becomes the library-wide count the DIO
   queries check against. */
DSC_EXPORT int32_t DSC_CALL dsc_GetMaxDIO(int32_t session, int32_t *out);

/* Commands. */
/* rate_index: position in DSC_SERIAL_RATES. The low byte of each value is sent. */
DSC_EXPORT int32_t DSC_CALL dsc_SetSerialIOCtl(int32_t session, int32_t port, int32_t rate_index, int32_t format,
                                               int32_t option);
DSC_EXPORT int32_t DSC_CALL dsc_SetSerialFIFO(int32_t session, int32_t port, int32_t value);
DSC_EXPORT int32_t DSC_CALL dsc_SetSerialInterface(int32_t session, int32_t port, int32_t value);
/* At most the first 15 characters of name are sent. */
DSC_EXPORT int32_t DSC_CALL dsc_SetSerialPortName(int32_t session, int32_t port, const char *name);
DSC_EXPORT int32_t DSC_CALL dsc_SetOPMode(int32_t session, int32_t port, int32_t value);
DSC_EXPORT int32_t DSC_CALL dsc_SetDataPacking(int32_t session, int32_t port, const DATAPACKINGINFO *packing);
DSC_EXPORT int32_t DSC_CALL dsc_SetInactivityTime(int32_t session, int32_t port, uint32_t value);
DSC_EXPORT int32_t DSC_CALL dsc_SetTCPAlive(int32_t session, int32_t port, uint32_t value);
/* The byte at mode. */
DSC_EXPORT int32_t DSC_CALL dsc_SetDriverMode(int32_t session, int32_t port, const uint8_t *mode);
DSC_EXPORT int32_t DSC_CALL dsc_SetTCPSvrMode(int32_t session, int32_t port, const _TCPSVRINFO *server);
/* Each text is sent with at most 39 characters. */
DSC_EXPORT int32_t DSC_CALL dsc_SetTCPCliMode(int32_t session, int32_t port, const TCPCLIENTMODEINFO *client);
DSC_EXPORT int32_t DSC_CALL dsc_SetUDPMode(int32_t session, int32_t port, const UDPMODEINFO *udp);
DSC_EXPORT int32_t DSC_CALL dsc_SetPortAlert(int32_t session, int32_t port, const PORTALERTINFO *alert);
/* Channels first .. end - 1 take values[i - first] != 0 as set. Refused when
   values is null, first or end is negative, or first + end exceeds 4. These
   two do not check for the channel: without one they give DSC_ESOCKET. */
DSC_EXPORT int32_t DSC_CALL dsc_SetDIOMode(int32_t session, int32_t first, int32_t end, const int32_t *values);
DSC_EXPORT int32_t DSC_CALL dsc_SetDIOState(int32_t session, int32_t first, int32_t end, const int32_t *values);

/* ---- Time zone index and clock ---------------------------------------- */

/* The Windows clock record; provided here where the platform has none. */
#if !defined(_WIN32)
typedef struct SYSTEMTIME {
    uint16_t wYear;          /* in full, e.g. 2024 */
    uint16_t wMonth;         /* 1 = January */
    uint16_t wDayOfWeek;
    uint16_t wDay;
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
} SYSTEMTIME;
#endif
DSC_LAYOUT(sizeof(SYSTEMTIME) == 16 && sizeof(TIMEINFO) == 16);

/* Time zone indexes run from 0 to DSC_TIMEZONE_COUNT - 1. */
#define DSC_TIMEZONE_COUNT 70

/* The device's time zone index (dsc_GetTimeZone without the offset). *index
   is 0 after any failure. DSC_EINVAL for a null index (nothing written). */
DSC_EXPORT int32_t DSC_CALL dsc_Get_TimeZone_Index(int32_t session, int32_t *index);
/* dsc_SetTimeZone with the library's offset for index and index itself.
   An index outside 0 to 69 is refused with DSC_EINVAL (after the session and
   channel checks), nothing sent. */
DSC_EXPORT int32_t DSC_CALL dsc_Set_TimeZone_Index(int32_t session, int32_t index);
/* The device clock as a SYSTEMTIME (year in full, month from 1). On failure
   *time is left as it was. */
DSC_EXPORT int32_t DSC_CALL dsc_GetWinTime(int32_t session, SYSTEMTIME *time);
/* Converts *time in place to the device's counting (year - 1900, or 0 for
   1900 and before; month - 1, or 0) and sends it as dsc_SetTime does. The
   conversion stays, also when the command fails; it is not made when the
   session has no channel (DSC_ENOCHANNEL). */
DSC_EXPORT int32_t DSC_CALL dsc_SetWinTime(int32_t session, SYSTEMTIME *time);

/* ---- IP location report listener -------------------------------------- */

/* The fields of an IP location report, 62 bytes, filled by item type. Values
   are copied byte for byte as they lie in the report; the record is never
   cleared, so a field whose item is absent keeps its bytes, and a shorter
   text or value overwrites only its own length. */
typedef struct IPLOCATIONPOLLINFO {
    char text[40];      /* item 1: no terminator is added */
    uint8_t item9[4];   /* item 9 */
    uint8_t item2[2];   /* item 2 */
    uint8_t item3[6];   /* item 3: 4 bytes, then 2 bytes */
    uint8_t item4[4];   /* item 4 */
    uint8_t item5[4];   /* item 5 */
    uint8_t item6[2];   /* item 6 */
} IPLOCATIONPOLLINFO;
DSC_LAYOUT(sizeof(IPLOCATIONPOLLINFO) == 62 && offsetof(IPLOCATIONPOLLINFO, item9) == 40 &&
           offsetof(IPLOCATIONPOLLINFO, item2) == 44 && offsetof(IPLOCATIONPOLLINFO, item3) == 46 &&
           offsetof(IPLOCATIONPOLLINFO, item4) == 52 && offsetof(IPLOCATIONPOLLINFO, item5) == 56 &&
           offsetof(IPLOCATIONPOLLINFO, item6) == 60);

/* Opens a UDP socket bound to address (IPv4, network order; 0: every local
   address) and port (host order) and writes it to *socket. DSC_EINVAL for a
   null socket or a port outside 0 to 65535; DSC_ESOCKET when the socket
   cannot be created or bound (*socket is then not written). */
DSC_EXPORT int32_t DSC_CALL dsc_IPLocationStart(int32_t *socket, uint32_t address, int32_t port);
/* Takes at most one waiting datagram, without waiting, and decodes it into
   *record. DSC_OK when a report was decoded; DSC_EFAIL when nothing waits or
   the datagram is no report (shorter than 4 bytes or without the magic
   "KRVN"; the record is untouched); DSC_ESOCKET on a socket error or for a
   datagram over 128 bytes (not decoded); DSC_EINVAL for a null record or
   socket -1. */
DSC_EXPORT int32_t DSC_CALL dsc_IPLocationPoll(int32_t socket, IPLOCATIONPOLLINFO *record);
/* Closes the socket. Always DSC_OK. */
DSC_EXPORT int32_t DSC_CALL dsc_IPLocationEnd(int32_t socket);

/* ---- File transfers -------------------------------------------------
   Over the logged-in channel. Checks, in order: a null path or a bad session
   (DSC_EINVAL), no channel (DSC_ENOCHANNEL, the file is not opened), then the
   file. The image is read and sent in chunks of at most 256 bytes, so memory
   does not grow with its size; the progress procedure sees code 0x80000000 |
   upload code, stage 20 with the share sent (in tens of percent, 100 once at
   the end) and stage 40 with the share of the upgrade time-out elapsed while
   the device stores the image (100 once the verdict has come, and always 100
   with an upgrade time-out of 0 or less); returning 0 cancels. Results:
   DSC_OK the device stored the image; DSC_EFILE the file cannot be opened (a
   missing or unreadable path, a directory, more than 4 GiB) or it ends before
   the announced size or a section's offset plus length (the upload stops:
   no byte is sent that was not read); DSC_ETIMEOUT no answer to the start
   frame, the channel not writable for retry count + 1 waits, no verdict
   within upgrade time-out + 2000 ms, or device status 253; DSC_ESOCKET;
   DSC_ECANCELLED; device status 251 DSC_EINVAL, 254 DSC_ESTATUS254, 252 or
   255 DSC_ESTATUS252; DSC_EFAIL a malformed verdict or another failing
   status. The channel stays open whatever the result. */

/* The file as a kernel image (code 5); dsc_UpgradeKernel does the same. */
DSC_EXPORT int32_t DSC_CALL dsc_Upgrade(int32_t session, const char *path);
DSC_EXPORT int32_t DSC_CALL dsc_UpgradeKernel(int32_t session, const char *path);
/* The file as an application image (code 8). */
DSC_EXPORT int32_t DSC_CALL dsc_UpgradeAP(int32_t session, const char *path);
/* The file as a file image (code 6). */
DSC_EXPORT int32_t DSC_CALL dsc_UpgradeFile(int32_t session, const char *path);
/* A firmware file: "*FRM", two 16-byte section descriptors at byte 64 (type
   u16 at 0: 1 kernel, 2 file, 3 application image; offset u32 at 4, length
   u32 at 8, little-endian). Each section is uploaded in turn with its share of
   the upgrade time-out in proportion to the lengths (evenly when both are
   empty); the session's upgrade time-out is the same again afterwards. Section
   2 is not sent when section 1 fails. DSC_ESTATUS252 without the magic, for a
   file shorter than its descriptors or a section type outside 1 to 3 (nothing
   sent). */
DSC_EXPORT int32_t DSC_CALL dsc_UpgradeAPKernel(int32_t session, const char *path);
/* As dsc_UpgradeAPKernel; when text is neither null nor empty, section 1's
   first 44 bytes hold a header text (up to its NUL) that must agree character
   for character with text from its fifth character on, else DSC_ESTATUS252
   and nothing is sent. */
DSC_EXPORT int32_t DSC_CALL dsc_Upgrade_WebKernel(int32_t session, const char *path, const char *text);

/* ---- Configuration and log transfers ------------------------------------
   Over the logged-in channel; results as for the file transfers. */

/* Uploads length (> 0) bytes of configuration from data: code 11, or code 30
   for the form that does not erase first. Progress stage 20 and 40 in whole
   percent (not tens); the verdict must come within the upgrade time-out. */
DSC_EXPORT int32_t DSC_CALL dsc_UpgradeAPConfig(int32_t session, const void *data, int32_t length);
DSC_EXPORT int32_t DSC_CALL dsc_UpgradeAPConfig_NoErase(int32_t session, const void *data, int32_t length);
/* Downloads the configuration (code 12) or the log (code 13) into buffer: the
   first capacity (> 0) bytes of what the device announces are kept, the rest
   read and dropped. dsc_RecvLog writes the announced size to *total. When the
   data stop arriving: DSC_ETIMEOUT, with the bytes that came in buffer. */
DSC_EXPORT int32_t DSC_CALL dsc_RecvAPConfig(int32_t session, void *buffer, uint32_t capacity);
DSC_EXPORT int32_t DSC_CALL dsc_RecvLog(int32_t session, void *buffer, uint32_t capacity, uint32_t *total);

/* ---- Configuration banks ------------------------------------------------
   One bank transfer carries at most 32768 bytes. These four return their own
   results, not the DSC_E* codes above: */
#define DSC_BANK_OK 1               /* success */
#define DSC_BANK_EREPLY 0           /* malformed or refused reply; dsc_UpgradeAPConfig_Bank: length 0 or
                                       above 32768 (nothing sent) */
#define DSC_BANK_EINVAL (-5)        /* null pointer or bad session */
#define DSC_BANK_ETIMEOUT (-11)     /* no reply, or the data stopped, within retry count + 1 waits */
#define DSC_BANK_ESOCKET (-12)      /* socket failure; also: the session has no channel */
#define DSC_BANK_ECANCELLED (-13)   /* the progress procedure returned 0 */
#define DSC_BANK_ELIMIT (-14)       /* beyond the bank limit (nothing sent) */

/* dsc_RecvAPConfig_Bank: the size the device announced (host order), then up
   to 32768 bytes of it. 32772 bytes. */
typedef struct APCONFIGBANKINFO {
    uint32_t size;
    uint8_t data[32768];
} APCONFIGBANKINFO;

/* Reads length bytes from offset of bank (its low byte) into buffer;
   DSC_BANK_ELIMIT when offset + length > 32768. Never more than length bytes
   are stored; more that the device sends is read and dropped. On a time-out
   the bytes that came stay in buffer. */
DSC_EXPORT int32_t DSC_CALL dsc_RecvAPConfigBank(int32_t session, int32_t bank, uint32_t offset, void *buffer,
                                                 uint32_t length);
/* Reads from a bank into *out, which is cleared first; out->size receives the
   announced size, out->data at most 32768 bytes of it (the rest is read and
   dropped). */
DSC_EXPORT int32_t DSC_CALL dsc_RecvAPConfig_Bank(int32_t session, uint32_t bank, uint32_t offset, uint32_t length,
                                                  APCONFIGBANKINFO *out);
/* Writes length (0 to 32768, else DSC_BANK_ELIMIT) bytes to bank (its low byte). */
DSC_EXPORT int32_t DSC_CALL dsc_UpgradeAPConfigBank(int32_t session, int32_t bank, const void *data, uint32_t length);
/* Writes length (1 to 32768, else DSC_BANK_EREPLY) bytes to bank. Note the
   argument order. */
DSC_EXPORT int32_t DSC_CALL dsc_UpgradeAPConfig_Bank(int32_t session, uint32_t length, uint32_t bank,
                                                     const void *data);

#ifdef __cplusplus
}
#endif

#endif /* TARNIX_H */
