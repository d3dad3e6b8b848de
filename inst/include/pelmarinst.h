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
 *
 * Configuration modes. ODBC_USER_DSN reads and writes the user files,
 * ODBC_SYSTEM_DSN the system files. ODBC_BOTH_DSN (the mode a process starts
 * in) reads the user file first, then the system file, and writes where the
 * section already is, else in the user file; it applies to drivers as well as
 * to data sources. The mode is one per process.
 *
 * What the files keep and survive:
 *   - Names (sections and keys) match ignoring case and keep the case they
 *     were first written with. A rewrite keeps every comment, blank line,
 *     unknown key and the order of the file; an edited entry keeps its key and
 *     the spacing before its value ("Key = value").
 *   - Values are read trimmed of spaces and tabs at both ends, as every
 *     program reading these files does. A value that begins or ends with a
 *     space or a tab could therefore not be read back as written: it is
 *     refused (FALSE, ODBC_ERROR_INVALID_KEYWORD_VALUE), never altered.
 *   - Nothing that would change a file's structure is written: a line break
 *     or NUL anywhere; "[" or "]" in a section name; "=" in a key; an empty
 *     section or key name; a key starting with ";", "#" or "["; a name with
 *     spaces at either end; text that is not UTF-8. Such a call returns FALSE
 *     with an error posted and writes nothing.
 *   - Every write holds an exclusive lock (flock) on the file across the
 *     read-modify-write, so that writers in several processes lose no update;
 *     the lock dies with its holder. The new content goes to a temporary file
 *     in the same folder, is synced, and renamed over the old file: a reader,
 *     or a writer killed at any moment, sees the old file or the new one.
 *     A write through a symbolic link replaces the link's target (at the end
 *     of a chain of links, also one that leads to no file yet).
 *   - A write needs the right to write the file itself, not only its folder:
 *     a read-only file is refused, never replaced. A pipe, a device or a
 *     folder at a file's path reads as no file, and writes refuse it. In mode
 *     both, a file that is there but cannot be read stops a write that would
 *     otherwise pass over it to the next file.
 *   - A new user odbc.ini is created readable and writable by its owner only
 *     (it may hold passwords); other new files get 0666 less the umask. An
 *     existing file keeps its permissions (its access control list and other
 *     extended attributes too), and its owner and group where the process
 *     may set them.
 *   - Reads never create a file, nor does removing what is not there. A parsed
 *     file is kept in memory while its identity, size and times are unchanged;
 *     every call checks them, so a change by another process is seen by the
 *     next call.
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

/*
 * Configuration mode: which files the next calls read and write.
 * SQLGetConfigMode: TRUE with *mode set; FALSE when mode is null.
 * SQLSetConfigMode: TRUE; FALSE (ODBC_ERROR_INVALID_PARAM_SEQUENCE) for a
 * mode other than the three above.
 */
PELMARINST_API BOOL SQLGetConfigMode(UWORD *mode);
PELMARINST_API BOOL SQLSetConfigMode(UWORD mode);

/*
 * Errors: a per-thread queue of up to 8 entries, numbered from 1; further
 * posts are dropped, so the first cause stays first.
 * SQLPostInstallerError: SQL_SUCCESS; SQL_ERROR for a code outside 1..23.
 * A null message stands for the code's standard text.
 * SQLInstallerError(W): SQL_SUCCESS with the code and the message (the posted
 * one, or the standard text of the code), cut to fit and terminated within
 * messageMax; *messageLength (may be null) gets its full length (bytes, or
 * wide characters). SQL_SUCCESS_WITH_INFO when the message was cut;
 * SQL_NO_DATA when there is no entry at index; SQL_ERROR for an index
 * outside 1..8.
 */
PELMARINST_API RETCODE SQLPostInstallerError(DWORD errorCode, LPCSTR message);
PELMARINST_API RETCODE SQLInstallerError(WORD index, DWORD *errorCode, LPSTR message,
                                         WORD messageMax, WORD *messageLength);
PELMARINST_API RETCODE SQLInstallerErrorW(WORD index, DWORD *errorCode, LPWSTR message,
                                          WORD messageMax, WORD *messageLength);

/*
 * Profile strings of odbc.ini / odbcinst.ini; file is "odbc.ini" or
 * "odbcinst.ini" (any case), anything else is ODBC_ERROR_INVALID_NAME.
 *
 * SQLGetPrivateProfileString(W) copies into buffer and returns the number of
 * units copied, the terminator not counted; it never writes past bufferSize
 * and always terminates within it (a narrow value is cut on a character
 * boundary). With a section and a key: the key's value, else the default (a
 * null default is ""); so 0 both for an empty value and for an absent key with
 * an empty default. With a null key: the section's key names; with a null
 * section: the section names. A list holds whole names only, each followed by
 * its terminator, and ends with an empty string. The sections "ODBC Data
 * Sources" and "ODBC Drivers" are read across the files of the mode (user
 * entries first); any other section is read from the first file of the mode
 * that has it. 0 with ODBC_ERROR_INVALID_BUFF_LEN for a null buffer or a size
 * below 1.
 *
 * SQLWritePrivateProfileString(W): TRUE when written. A null value removes the
 * key, a null key removes the section (TRUE also when there was nothing to
 * remove). FALSE for a null section, refused input, or a failed write
 * (ODBC_ERROR_WRITING_SYSINFO_FAILED, with the file and the reason).
 */
PELMARINST_API int SQLGetPrivateProfileString(LPCSTR section, LPCSTR key, LPCSTR defaultValue,
                                              LPSTR buffer, int bufferSize, LPCSTR file);
PELMARINST_API int SQLGetPrivateProfileStringW(LPCWSTR section, LPCWSTR key,
                                               LPCWSTR defaultValue, LPWSTR buffer,
                                               int bufferSize, LPCWSTR file);
PELMARINST_API BOOL SQLWritePrivateProfileString(LPCSTR section, LPCSTR key, LPCSTR value,
                                                 LPCSTR file);
PELMARINST_API BOOL SQLWritePrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR value,
                                                  LPCWSTR file);

/*
 * Data sources.
 * SQLWriteDSNToIni(W) lists dsn under "ODBC Data Sources" with the driver's
 * name and sets the "Driver" key of the data source's section: the driver's
 * library path when the driver is registered with one (user drivers first),
 * else the driver's name. Other keys of an existing section are kept. FALSE
 * with ODBC_ERROR_INVALID_DSN when SQLValidDSN refuses dsn.
 * SQLRemoveDSNFromIni(W) removes the listing and the section, from the first
 * file of the mode that has either; TRUE also when there was none.
 * SQLValidDSN(W): TRUE for a name of 1 to 32 characters without any of
 * []{}(),;?*=!@\ , control characters, a leading '#' or spaces at either end.
 */
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
 * not exist (ODBC_ERROR_INVALID_DSN, ODBC_ERROR_COMPONENT_NOT_FOUND). In mode
 * both the data source's section is read from the first file that has it.
 * SQLSetKeywordValue(W) stores the first `length` units of value (a negative
 * length means up to the terminator) in the section of an existing data
 * source, in the first file of the mode that has it: TRUE when stored; FALSE
 * with ODBC_ERROR_INVALID_DSN when there is no such data source (no section is
 * made up for it), or for refused input.
 */
PELMARINST_API BOOL SQLGetKeywordValue(LPCSTR dsn, LPCSTR key, LPSTR buffer, int bufferSize,
                                       int *length);
PELMARINST_API BOOL SQLGetKeywordValueW(LPCWSTR dsn, LPCWSTR key, LPWSTR buffer,
                                        int bufferSize, int *length);
PELMARINST_API BOOL SQLSetKeywordValue(LPCSTR dsn, LPCSTR key, LPCSTR value, int length);
PELMARINST_API BOOL SQLSetKeywordValueW(LPCWSTR dsn, LPCWSTR key, LPCWSTR value, int length);

/*
 * Drivers.
 * SQLInstallDriverEx(W): driver is a list "Name\0Key=Value\0...\0\0".
 * ODBC_INSTALL_COMPLETE lists the driver in "ODBC Drivers" ("Installed"),
 * writes its keys into its own section (keeping keys the list does not name)
 * and counts the install in its "UsageCount", which *usageCount (may be null)
 * receives. The drivers file is the mode's (in mode both: where the driver
 * already is, else the user's ~/.odbcinst.ini). ODBC_INSTALL_INQUIRY writes
 * nothing. pathOut (may be null) gets pathIn when given, else the folder of
 * the driver library, else the folder of the drivers file; it is cut to
 * pathOutMax (ODBC_ERROR_OUTPUT_STRING_TRUNCATED is posted, the result stays
 * TRUE) and *pathOutLength gets its full length.
 * SQLRemoveDriver(W) counts the usage down; at zero it removes the listing and
 * the section, and with removeDSNs the data sources of that driver (listed
 * with its name, or whose "Driver" names it or its library) from the odbc.ini
 * of the same scope. *usageCount gets the count left. FALSE with
 * ODBC_ERROR_COMPONENT_NOT_FOUND when the driver is not registered.
 * SQLGetInstalledDrivers(W): TRUE with the names of the drivers (those listed
 * in "ODBC Drivers", and every other section but "ODBC", as other tools
 * register drivers by their section alone) as a list like the one above;
 * *bufferLength gets the units used, the final terminator not counted.
 */
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

/*
 * Calls into the driver's setup library named by its "Setup" key, looked up in
 * the user's drivers file first, then the system's, and loaded with dlopen
 * (it stays loaded). The window handle is passed on untouched. A narrow call
 * uses ConfigDSN / ConfigDriver, or the wide entry point with converted
 * arguments when the library has only that, and the other way round.
 *
 * SQLConfigDataSource(W): requests 4-6 run in the system configuration and
 * are passed on as 1-3; requests 1-3 run in the mode the caller set, the
 * user's when that is ODBC_BOTH_DSN. The mode is ODBC_BOTH_DSN again when the
 * call returns, whatever happened.
 * SQLConfigDriver(W): requests 1 to 100 are passed on as they are, in the
 * caller's mode. *messageLength gets the whole message's length in the
 * caller's units, also when the message is cut to the caller's buffer.
 * Both return the setup library's result. FALSE with
 * ODBC_ERROR_INVALID_REQUEST_TYPE for another request,
 * ODBC_ERROR_INVALID_NAME for a null or empty driver,
 * ODBC_ERROR_COMPONENT_NOT_FOUND for a driver that is not registered or has
 * no "Setup" key, ODBC_ERROR_LOAD_LIB_FAILED when the library cannot be
 * loaded or lacks the entry point, and ODBC_ERROR_REQUEST_FAILED when the
 * setup library refused without posting an error of its own.
 */
PELMARINST_API BOOL SQLConfigDataSource(HWND parent, WORD request, LPCSTR driver,
                                        LPCSTR attributes);
PELMARINST_API BOOL SQLConfigDataSourceW(HWND parent, WORD request, LPCWSTR driver,
                                         LPCWSTR attributes);
PELMARINST_API BOOL SQLConfigDriver(HWND parent, WORD request, LPCSTR driver, LPCSTR args,
                                    LPSTR message, WORD messageMax, WORD *messageLength);
PELMARINST_API BOOL SQLConfigDriverW(HWND parent, WORD request, LPCWSTR driver, LPCWSTR args,
                                     LPWSTR message, WORD messageMax, WORD *messageLength);

/*
 * Batches of writes: this library's own calls, beyond the installer API, for
 * programs that change many entries at once (such as pointing every data
 * source of a driver at its new library). Each write above rewrites its whole
 * file, so n writes to a file of n entries cost n * n; in a batch they cost n.
 *
 * pelmarinst_begin_writes: TRUE; FALSE (ODBC_ERROR_INVALID_PARAM_SEQUENCE)
 * when the calling thread has a batch open already. Until the batch is
 * committed or aborted, the thread's writes (also those of a setup library it
 * calls) are checked and answered as always but change the thread's own copy
 * of each file only; the thread's reads see them; other threads and
 * processes see the files as they are on disk, and no file is created.
 *
 * pelmarinst_commit_writes writes each file the batch changed once, as any
 * write does: locked, atomic, synced. Under the file's lock it makes the
 * batch's changes of that file again, in order, on the file as it is then, so
 * that entries other processes wrote meanwhile are kept; where both set the
 * same key, the batch's value wins (a value the batch computed from what it
 * read, such as a usage count, is written as computed). A SQLSetKeywordValue
 * of the batch is made again only if its data source is still there. TRUE
 * when every file was written; FALSE with ODBC_ERROR_WRITING_SYSINFO_FAILED
 * (the first file that failed, and why): each file is then either written
 * whole or left as it was. FALSE with ODBC_ERROR_INVALID_PARAM_SEQUENCE when
 * no batch is open. The batch ends in every case.
 *
 * pelmarinst_abort_writes: TRUE; forgets the thread's open batch, if any,
 * without writing. A thread that ends with a batch open forgets it likewise.
 */
PELMARINST_API BOOL pelmarinst_begin_writes(void);
PELMARINST_API BOOL pelmarinst_commit_writes(void);
PELMARINST_API BOOL pelmarinst_abort_writes(void);

#ifdef __cplusplus
}
#endif

#endif /* PELMARINST_H */
