// The setup and login windows as the in-memory toolkit builds them, and the
// binding their dialogs make, for tests of the shared dialog code.
#ifndef HVL_TESTS_DIALOG_WINDOWS_H
#define HVL_TESTS_DIALOG_WINDOWS_H

#include "core/attrs.h"
#include "dialogs/binding.h"
#include "fake_toolkit.h"

namespace hvl::test {

inline void BuildSetupWindow(FakeWindow &w) {
  w.Add(128, Kind::Button, u"OK");
  w.Add(129, Kind::Button, u"Cancel");
  w.Add(130, Kind::Button, u"About");
  w.Add(131, Kind::Edit);
  w.Add(132, Kind::Edit);
  FakeControl &types = w.Add(133, Kind::Popup);
  types.items = {u"from the definition"};
  types.value = 1;
  FakeControl &protocol = w.Add(134, Kind::Popup);
  protocol.items = {u"TCP/IP", u"Named pipes"};
  protocol.value = 2;
  w.Add(135, Kind::Edit);
  w.Add(136, Kind::Edit);
  w.Add(137, Kind::Label, u"Database");
  w.Add(138, Kind::Edit);
  w.Add(139, Kind::Label);
  w.Add(140, Kind::Edit);
  w.Add(141, Kind::Label, u"Options");
  w.Add(142, Kind::Edit);
  w.Add(143, Kind::Check);
  w.Add(144, Kind::Check);
  w.Add(145, Kind::Check);
  w.Add(146, Kind::Edit);
}

inline void BuildLoginWindow(FakeWindow &w) {
  w.Add(128, Kind::Tabs, {}, kSigTabs).value = 1;
  for (int pane : {129, 130, 131})
    w.Add(pane, Kind::Pane, {}, kSigTabs);
  w.Add(128, Kind::Button, u"OK");
  w.Add(129, Kind::Button, u"Cancel");
  w.Add(140, Kind::Edit);
  w.Add(141, Kind::Edit);
  w.Add(142, Kind::Password);
  w.Add(150, Kind::Popup);
  w.Add(151, Kind::Label, u"Database");
  w.Add(152, Kind::Edit);
  w.Add(153, Kind::Label, u"Options");
  w.Add(154, Kind::Edit);
  w.Add(155, Kind::Edit);
  FakeControl &protocol = w.Add(156, Kind::Popup);
  protocol.items = {u"TCP/IP"};
  protocol.value = 1;
  w.Add(157, Kind::Edit);
  w.Add(158, Kind::Check);
  w.Add(159, Kind::Check);
  w.Add(160, Kind::Edit);
}

// Binds as the setup dialog does (controls 131 to 146).
inline void BindSetup(WindowRef window, DlgControls &r, AttrEntry *t) {
  BindControl(window, 131, &r.dsnCtl, t, ATTR_DSN);
  BindControl(window, 132, &r.descriptionCtl, t, ATTR_DESCRIPTION);
  BindControl(window, 133, &r.serverTypeCtl, t, ATTR_SERVERTYPE);
  BindControl(window, 134, &r.protocolCtl, t, ATTR_PROTOCOL);
  BindControl(window, 135, &r.hostCtl, t, ATTR_HOST);
  BindControl(window, 136, &r.portCtl, t, ATTR_PORT);
  BindControl(window, 137, &r.databaseLabel);
  BindControl(window, 138, &r.databaseCtl, t, ATTR_DATABASE);
  BindControl(window, 139, &r.extraCtl);
  BindControl(window, 140, &r.userNameCtl, t, ATTR_USERNAME);
  BindControl(window, 141, &r.optionsLabel);
  BindControl(window, 142, &r.optionsCtl, t, ATTR_OPTIONS);
  BindControl(window, 143, &r.readOnlyCtl, t, ATTR_READONLY);
  BindControl(window, 144, &r.noLoginBoxCtl, t, ATTR_NOLOGINBOX);
  BindControl(window, 145, &r.deferLongFetchCtl, t, ATTR_DEFERLONGFETCH);
  BindControl(window, 146, &r.fetchBufferSizeCtl, t, ATTR_FETCHBUFFERSIZE);
  r.window = window;
  r.attrTable = t;
}

// Binds as the login dialog does.
inline void BindLogin(WindowRef window, DlgControls &r, AttrEntry *t) {
  BindControl(window, 128, &r.tabCtl, nullptr, -1, kSigTabs);
  BindControl(window, 140, &r.dsnCtl, t, ATTR_DSN);
  BindControl(window, 141, &r.userNameCtl, t, ATTR_USERNAME);
  BindControl(window, 142, &r.passwordCtl, t, ATTR_PASSWORD);
  BindControl(window, 150, &r.serverTypeCtl, t, ATTR_SERVERTYPE);
  BindControl(window, 151, &r.databaseLabel);
  BindControl(window, 152, &r.databaseCtl, t, ATTR_DATABASE);
  BindControl(window, 153, &r.optionsLabel);
  BindControl(window, 154, &r.optionsCtl, t, ATTR_OPTIONS);
  BindControl(window, 155, &r.hostCtl, t, ATTR_HOST);
  BindControl(window, 156, &r.protocolCtl, t, ATTR_PROTOCOL);
  BindControl(window, 157, &r.portCtl, t, ATTR_PORT);
  BindControl(window, 158, &r.deferLongFetchCtl, t, ATTR_DEFERLONGFETCH);
  BindControl(window, 159, &r.readOnlyCtl, t, ATTR_READONLY);
  BindControl(window, 160, &r.fetchBufferSizeCtl, t, ATTR_FETCHBUFFERSIZE);
  r.window = window;
  r.attrTable = t;
}

} // namespace hvl::test

#endif
