/* Loads libpelmarinst as a host does, from C, calls a few entry points and
 * checks that it exports exactly the symbols of its version script. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "pelmarinst.h"

static int failures = 0;
#define CHECK(cond)                                                                    \
  do {                                                                                 \
    if (!(cond)) {                                                                     \
      fprintf(stderr, "inst_host_test: %s:%d: %s\n", __FILE__, __LINE__, #cond);      \
      failures++;                                                                      \
    }                                                                                  \
  } while (0)

/* ISO C has no conversion from an object pointer to a function pointer; the
 * bytes of dlsym's result are the function's address. */
#define LOAD(var, name)                                                                \
  do {                                                                                 \
    void *sym_ = dlsym(lib, name);                                                     \
    memcpy(&var, &sym_, sizeof var);                                                   \
  } while (0)

/* Reads the names of the version script's global block into one string, each
 * followed by a newline, in the script's order; and those nm lists likewise. */
static void read_lines(FILE *in, int from_map, char *out, size_t max) {
  char line[512];
  out[0] = 0;
  while (fgets(line, sizeof line, in) != NULL) {
    char name[400];
    char type;
    if (from_map) {
      if (sscanf(line, " %399[A-Za-z_]%c", name, &type) != 2 || type != ';' ||
          strcmp(name, "local") == 0)
        continue;
    } else if (sscanf(line, "%*s %c %399s", &type, name) != 2) {
      continue;
    }
    if (strlen(out) + strlen(name) + 2 < max) {
      strcat(out, name);
      strcat(out, "\n");
    }
  }
}

static int compare(const void *a, const void *b) {
  return strcmp(*(const char *const *)a, *(const char *const *)b);
}

static void sort_lines(char *text) {
  char *names[256];
  size_t n = 0;
  char copy[8192];
  char *save = NULL;
  strcpy(copy, text);
  for (char *t = strtok_r(copy, "\n", &save); t != NULL && n < 256; t = strtok_r(NULL, "\n", &save))
    names[n++] = t;
  qsort(names, n, sizeof names[0], compare);
  text[0] = 0;
  for (size_t i = 0; i < n; i++) {
    strcat(text, names[i]);
    strcat(text, "\n");
  }
}

int main(void) {
  char dir[] = "/tmp/insthost.XXXXXX";
  if (mkdtemp(dir) == NULL)
    return 1;
  char path[512];
  setenv("HOME", dir, 1);
  setenv("ODBCSYSINI", dir, 1);
  snprintf(path, sizeof path, "%s/user.ini", dir);
  setenv("ODBCINI", path, 1);

  void *lib = dlopen(PELMARINST_PATH, RTLD_NOW | RTLD_LOCAL);
  if (lib == NULL) {
    fprintf(stderr, "inst_host_test: %s\n", dlerror());
    return 1;
  }
  BOOL (*set_mode)(UWORD);
  BOOL (*write_dsn)(LPCSTR, LPCSTR);
  BOOL (*set_kw)(LPCSTR, LPCSTR, LPCSTR, int);
  BOOL (*get_kw)(LPCSTR, LPCSTR, LPSTR, int, int *);
  RETCODE (*error)(WORD, DWORD *, LPSTR, WORD, WORD *);
  LOAD(set_mode, "SQLSetConfigMode");
  LOAD(write_dsn, "SQLWriteDSNToIni");
  LOAD(set_kw, "SQLSetKeywordValue");
  LOAD(get_kw, "SQLGetKeywordValue");
  LOAD(error, "SQLInstallerError");
  CHECK(set_mode && write_dsn && set_kw && get_kw && error);
  CHECK(dlsym(lib, "_ZN5pinst8FoldNameESt17basic_string_viewIcSt11char_traitsIcEE") == NULL);
  if (failures != 0)
    return 1;

  CHECK(set_mode(ODBC_USER_DSN));
  CHECK(write_dsn("hostdsn", "Some Driver"));
  CHECK(set_kw("hostdsn", "Database", "db1", -1));
  char value[32] = "";
  int len = 0;
  CHECK(get_kw("hostdsn", "DATABASE", value, sizeof value, &len));
  CHECK(strcmp(value, "db1") == 0 && len == 3);
  CHECK(!set_kw("hostdsn", "Database", "a\nb", -1));
  DWORD code = 0;
  char message[128];
  WORD mlen = 0;
  CHECK(error(1, &code, message, sizeof message, &mlen) == SQL_SUCCESS);
  CHECK(code == ODBC_ERROR_INVALID_KEYWORD_VALUE);

  /* Exports: exactly the version script's names. */
  char cmd[1024], want[8192], got[8192];
  FILE *map = fopen(PELMARINST_MAP, "r");
  CHECK(map != NULL);
  if (map != NULL) {
    read_lines(map, 1, want, sizeof want);
    fclose(map);
  }
  snprintf(cmd, sizeof cmd, "nm -D --defined-only '%s'", PELMARINST_PATH);
  FILE *nm = popen(cmd, "r");
  CHECK(nm != NULL);
  if (nm != NULL) {
    read_lines(nm, 0, got, sizeof got);
    CHECK(pclose(nm) == 0);
  }
  sort_lines(want);
  sort_lines(got);
  if (strcmp(want, got) != 0)
    fprintf(stderr, "inst_host_test: exports differ\nwant:\n%s\ngot:\n%s\n", want, got);
  CHECK(strcmp(want, got) == 0);

  snprintf(cmd, sizeof cmd, "rm -rf '%s'", dir);
  if (system(cmd) != 0)
    failures++;
  return failures == 0 ? 0 : 1;
}
