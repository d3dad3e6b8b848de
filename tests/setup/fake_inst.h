// A recording stand-in for the installer library, for unit tests of the setup
// library's core. Each call is logged with the configuration mode in force;
// reads answer from a scripted store.
#ifndef HVL_TESTS_FAKE_INST_H
#define HVL_TESTS_FAKE_INST_H

#include <map>
#include <string>
#include <vector>

namespace fake_inst {

struct Call {
  std::string op;                // function name, e.g. "SQLGetKeywordValueW"
  unsigned mode;                 // configuration mode when it was called
  std::vector<std::wstring> args; // text arguments, wide (narrow ones widened from UTF-8)
  int length = 0;                 // the numeric size/length argument, where there is one
};

// Scripted data: values[dsn][key]. The data source and key names match exactly.
extern std::map<std::wstring, std::map<std::wstring, std::wstring>> values;
// When set, SQLGetKeywordValueW reports success but leaves the buffer as it is.
extern bool succeed_without_value;
extern std::vector<Call> calls;
extern unsigned mode;
// Result of SQLRemoveDSNFromIni(W), and of SQLWriteDSNToIni(W).
extern int remove_result;
extern int write_dsn_result;
// SQLSetKeywordValue(W) refuses this key (FALSE) when it is not empty.
extern std::wstring refused_key;
// Errors posted through SQLPostInstallerError: code and message ("" for none).
extern std::vector<std::pair<unsigned, std::string>> posted;

void reset();
// Names of the recorded calls, in order.
std::vector<std::string> ops();

} // namespace fake_inst

#endif
