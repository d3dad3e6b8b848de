// What the stand-in setup library records of its last call (FakeLast()).
#ifndef TESTS_INST_FAKE_SETUP_H
#define TESTS_INST_FAKE_SETUP_H

#include <string>

#include "pelmarinst.h"

struct FakeRecord {
  int calls = 0;
  HWND parent = nullptr;
  WORD request = 0;
  UWORD mode = 99;  // the configuration mode during the call
  std::string driver;
  std::string attributes;  // '|' between the strings, "<null>" for none
  bool wide = false;
};

#endif
