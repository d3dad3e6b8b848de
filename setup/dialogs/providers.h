// The server type list of the setup and login dialogs: kept in the user's
// preferences, shown in the server type pop-up, and the labels of the
// database and options fields that follow the chosen type.
#ifndef HVL_DIALOGS_PROVIDERS_H
#define HVL_DIALOGS_PROVIDERS_H

#include <cstdint>
#include <optional>
#include <vector>

#include "dialogs/binding.h"
#include "toolkit/toolkit.h"

namespace hvl {

// The built-in list, stored as the preference the first time it is missing.
inline constexpr int kProviderCount = 63;
extern const wchar_t *const providerstr[kProviderCount];

// The preference that holds the list: key "Provider" of the domain
// "com.halvernsw.vantor". An item that is not a string reads as nullopt.
inline constexpr char kProviderKey[] = "Provider";
using ProviderList = std::vector<std::optional<PlatformString>>;

// Fills `list` with the stored list and returns 1. When the key is absent,
// stores the built-in list first (a failure to store goes unnoticed: the
// list is handed out all the same). Returns 0, leaving `list` empty, when
// the key holds something other than a list or the preferences file cannot
// be read (it is then left as it is), or `list` is null.
std::int32_t OpenOrMakePrefsFile(ProviderList *list);

// Replaces the items of the record's server type pop-up with the list,
// chooses the last item equal (ignoring case) to the working copy's server
// type, else item 1, relabels through ChangeDatabaseLabels, and shows the
// pop-up. Items that are not strings are shown empty and never chosen.
void SetUpProviderList(DlgControls *record, const ProviderList &list);

// Labels the database and options fields after the text of pop-up item
// `item` (from 1), and shows or hides the options field and its label. An
// item without text changes nothing.
void ChangeDatabaseLabels(DlgControls *record, std::int16_t item);

// Draw handlers of the server type pop-up (setup and login dialog): they
// relabel after the pop-up's current value, then reinstall themselves,
// keeping the new reference in the record's providersHandler. userData is
// the DlgControls; null does nothing. Always noErr.
OSStatus hvlsetup_providers_clicked(EventHandlerCallRef call, Event *event, void *userData);
OSStatus hvllogin_providers_clicked(EventHandlerCallRef call, Event *event, void *userData);

} // namespace hvl

#endif
