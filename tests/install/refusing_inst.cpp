// An installer library that refuses every driver registration: it posts the
// message found in HVL_REFUSAL_MESSAGE (no message when that is unset) and
// writes nothing. driverinstall loads it through HVL_PELMARINST.
#define PELMARINST_BUILDING
#include <cstdlib>
#include <cstring>

#include "pelmarinst.h"

extern "C" {

BOOL SQLSetConfigMode(UWORD) { return TRUE; }

BOOL SQLInstallDriverEx(LPCSTR, LPCSTR, LPSTR, WORD, WORD *, WORD, LPDWORD) { return FALSE; }

RETCODE SQLInstallerError(WORD index, DWORD *errorCode, LPSTR message, WORD messageMax,
                          WORD *messageLength) {
  const char *text = std::getenv("HVL_REFUSAL_MESSAGE");
  if (index != 1 || text == nullptr) {
    return SQL_NO_DATA;
  }
  if (errorCode != nullptr) {
    *errorCode = ODBC_ERROR_GENERAL_ERR;
  }
  std::size_t length = std::strlen(text);
  if (messageLength != nullptr) {
    *messageLength = static_cast<WORD>(length);
  }
  if (message != nullptr && messageMax > 0) {
    std::size_t n = length < messageMax ? length : messageMax - 1u;
    std::memcpy(message, text, n);
    message[n] = '\0';
  }
  return length < messageMax ? SQL_SUCCESS : SQL_SUCCESS_WITH_INFO;
}

int SQLGetPrivateProfileString(LPCSTR, LPCSTR, LPCSTR, LPSTR, int, LPCSTR) { return 0; }

BOOL SQLWritePrivateProfileString(LPCSTR, LPCSTR, LPCSTR, LPCSTR) { return FALSE; }
}
