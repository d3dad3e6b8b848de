/*
 * pelmarinst.h - the ODBC installer library (libpelmarinst).
 *
 * Reads and writes the ODBC configuration: data sources in odbc.ini and
 * drivers in odbcinst.ini, in the files that every ODBC program on the
 * machine reads.
 *
 *   user data sources     $ODBCINI, else ~/.odbc.ini
 *   system data sources   $ODBCSYSINI/odbc.ini, else /etc/odbc.ini
 *   system drivers        $ODBCSYSINI/odbcinst.ini, else /etc/odbcinst.ini
 *   user drivers          ~/.odbcinst.ini
 *
 * Narrow functions take and give UTF-8 with sizes in bytes; the wide
 * functions (suffix W) take and give 32-bit wchar_t text with sizes in wide
 * characters. Every function except SQLInstallerError(W) and
 * SQLPostInstallerError clears the calling thread's error queue when it
 * starts; failures post an error there (up to 8 are kept).
 *
 * Truth values are TRUE (1) and FALSE (0).
 */
#ifndef PELMARINST_H
#define PELMARINST_H

#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(PELMARINST_BUILDING)
#define PELMARINST_API __attribute__((visibility("default")))
#else
#define PELMARINST_API
#endif

typedef int BOOL;
typedef uint16_t WORD;
typedef uint16_t UWORD;
typedef uint32_t DWORD;
typedef int16_t RETCODE;
typedef void *HWND;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef wchar_t *LPWSTR;
typedef const wchar_t *LPCWSTR;
typedef DWORD *LPDWORD;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

/* Return codes of SQLInstallerError(W) and SQLPostInstallerError. */
#define SQL_SUCCESS 0
#define SQL_SUCCESS_WITH_INFO 1
#define SQL_ERROR (-1)
#define SQL_NO_DATA 100

/* Configuration modes. */
#define ODBC_BOTH_DSN 0
#define ODBC_USER_DSN 1
#define ODBC_SYSTEM_DSN 2

/* Requests of SQLConfigDataSource(W) and ConfigDSN(W). */
#define ODBC_ADD_DSN 1
#define ODBC_CONFIG_DSN 2
#define ODBC_REMOVE_DSN 3
#define ODBC_ADD_SYS_DSN 4
#define ODBC_CONFIG_SYS_DSN 5
#define ODBC_REMOVE_SYS_DSN 6

/* Requests of SQLConfigDriver(W) and ConfigDriver(W). */
#define ODBC_INSTALL_DRIVER 1
#define ODBC_REMOVE_DRIVER 2
#define ODBC_CONFIG_DRIVER 3

/* Requests of SQLInstallDriverEx(W). */
#define ODBC_INSTALL_INQUIRY 1
#define ODBC_INSTALL_COMPLETE 2

/* Installer error codes. */
#define ODBC_ERROR_GENERAL_ERR 1
#define ODBC_ERROR_INVALID_BUFF_LEN 2
#define ODBC_ERROR_INVALID_HWND 3
#define ODBC_ERROR_INVALID_STR 4
#define ODBC_ERROR_INVALID_REQUEST_TYPE 5
#define ODBC_ERROR_COMPONENT_NOT_FOUND 6
#define ODBC_ERROR_INVALID_NAME 7
#define ODBC_ERROR_INVALID_KEYWORD_VALUE 8
#define ODBC_ERROR_INVALID_DSN 9
#define ODBC_ERROR_INVALID_INF 10
#define ODBC_ERROR_REQUEST_FAILED 11
#define ODBC_ERROR_INVALID_PATH 12
#define ODBC_ERROR_LOAD_LIB_FAILED 13
#define ODBC_ERROR_INVALID_PARAM_SEQUENCE 14
#define ODBC_ERROR_INVALID_LOG_FILE 15
#define ODBC_ERROR_USER_CANCELED 16
#define ODBC_ERROR_USAGE_UPDATE_FAILED 17
#define ODBC_ERROR_CREATE_DSN_FAILED 18
#define ODBC_ERROR_WRITING_SYSINFO_FAILED 19
#define ODBC_ERROR_REMOVE_DSN_FAILED 20
#define ODBC_ERROR_OUT_OF_MEM 21
#define ODBC_ERROR_OUTPUT_STRING_TRUNCATED 22
#define ODBC_ERROR_DRIVER_SPECIFIC 23

/* Configuration mode: which files the next calls read and write. */
PELMARINST_API BOOL SQLGetConfigMode(UWORD *mode);
PELMARINST_API BOOL SQLSetConfigMode(UWORD mode);

/* Errors: a per-thread queue of up to 8 entries, numbered from 1. */
PELMARINST_API RETCODE SQLPostInstallerError(DWORD errorCode, LPCSTR message);
PELMARINST_API RETCODE SQLInstallerError(WORD index, DWORD *errorCode, LPSTR message,
                                         WORD messageMax, WORD *messageLength);
PELMARINST_API RETCODE SQLInstallerErrorW(WORD index, DWORD *errorCode, LPWSTR message,
                                          WORD messageMax, WORD *messageLength);

/* Profile strings of odbc.ini / odbcinst.ini (the file argument names which). */
PELMARINST_API int SQLGetPrivateProfileString(LPCSTR section, LPCSTR key, LPCSTR defaultValue,
                                              LPSTR buffer, int bufferSize, LPCSTR file);
PELMARINST_API int SQLGetPrivateProfileStringW(LPCWSTR section, LPCWSTR key,
                                               LPCWSTR defaultValue, LPWSTR buffer,
                                               int bufferSize, LPCWSTR file);
PELMARINST_API BOOL SQLWritePrivateProfileString(LPCSTR section, LPCSTR key, LPCSTR value,
                                                 LPCSTR file);
PELMARINST_API BOOL SQLWritePrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR value,
                                                  LPCWSTR file);

/* Data sources. */
PELMARINST_API BOOL SQLWriteDSNToIni(LPCSTR dsn, LPCSTR driver);
PELMARINST_API BOOL SQLWriteDSNToIniW(LPCWSTR dsn, LPCWSTR driver);
PELMARINST_API BOOL SQLRemoveDSNFromIni(LPCSTR dsn);
PELMARINST_API BOOL SQLRemoveDSNFromIniW(LPCWSTR dsn);
PELMARINST_API BOOL SQLValidDSN(LPCSTR dsn);
PELMARINST_API BOOL SQLValidDSNW(LPCWSTR dsn);

/*
 * One key of a data source's section. SQLGetKeywordValue(W) is TRUE when the
 * key exists in the section (also with an empty value) and copies the value,
 * cut to fit and terminated within bufferSize; *length (may be null) gets the
 * full length of the stored value. FALSE when the data source or the key does
 * not exist. SQLSetKeywordValue(W) stores the first `length` units of value
 * (a negative length means up to the terminator).
 */
PELMARINST_API BOOL SQLGetKeywordValue(LPCSTR dsn, LPCSTR key, LPSTR buffer, int bufferSize,
                                       int *length);
PELMARINST_API BOOL SQLGetKeywordValueW(LPCWSTR dsn, LPCWSTR key, LPWSTR buffer,
                                        int bufferSize, int *length);
PELMARINST_API BOOL SQLSetKeywordValue(LPCSTR dsn, LPCSTR key, LPCSTR value, int length);
PELMARINST_API BOOL SQLSetKeywordValueW(LPCWSTR dsn, LPCWSTR key, LPCWSTR value, int length);

/* Drivers. */
PELMARINST_API BOOL SQLInstallDriverEx(LPCSTR driver, LPCSTR pathIn, LPSTR pathOut,
                                       WORD pathOutMax, WORD *pathOutLength, WORD request,
                                       LPDWORD usageCount);
PELMARINST_API BOOL SQLInstallDriverExW(LPCWSTR driver, LPCWSTR pathIn, LPWSTR pathOut,
                                        WORD pathOutMax, WORD *pathOutLength, WORD request,
                                        LPDWORD usageCount);
PELMARINST_API BOOL SQLRemoveDriver(LPCSTR driver, BOOL removeDSNs, LPDWORD usageCount);
PELMARINST_API BOOL SQLRemoveDriverW(LPCWSTR driver, BOOL removeDSNs, LPDWORD usageCount);
PELMARINST_API BOOL SQLGetInstalledDrivers(LPSTR buffer, WORD bufferMax, WORD *bufferLength);
PELMARINST_API BOOL SQLGetInstalledDriversW(LPWSTR buffer, WORD bufferMax, WORD *bufferLength);

/* Calls into the driver's setup library named by its "Setup" key. */
PELMARINST_API BOOL SQLConfigDataSource(HWND parent, WORD request, LPCSTR driver,
                                        LPCSTR attributes);
PELMARINST_API BOOL SQLConfigDataSourceW(HWND parent, WORD request, LPCWSTR driver,
                                         LPCWSTR attributes);
PELMARINST_API BOOL SQLConfigDriver(HWND parent, WORD request, LPCSTR driver, LPCSTR args,
                                    LPSTR message, WORD messageMax, WORD *messageLength);
PELMARINST_API BOOL SQLConfigDriverW(HWND parent, WORD request, LPCWSTR driver, LPCWSTR args,
                                     LPWSTR message, WORD messageMax, WORD *messageLength);

#ifdef __cplusplus
}
#endif

#endif /* PELMARINST_H */
