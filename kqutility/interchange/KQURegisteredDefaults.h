// Registered defaults and localizable property lists.
//
// Each framework and the application ship their factory defaults in a "Defaults"
// property list (Resources/Defaults.plist of the bundle) holding one dictionary.
// KQURegisterDefaultsFromFrameworksAndApplication registers those of every loaded
// framework inside the main bundle's Frameworks folder, in load order, then the main
// bundle's own, so that the application's values win over its frameworks'. The walk
// stops at the first loaded framework outside that folder; a framework inside it without
// a usable Defaults resource (missing, unreadable, not a dictionary) is skipped with a
// warning in the log, and the walk goes on, so that later frameworks' defaults are not
// silently lost.
//
// KQULocalizedPList resolves the "_LOCALIZABLE_" markers of a property list (see its
// comment). Plain functions; thread-safe as KQUUserDefaults and KQUBundle are.
#pragma once

#include "kqutility/foundation/KQUBundle.h"
#include "kqutility/foundation/KQUUserDefaults.h"
#include "kqutility/foundation/KQUValue.h"

namespace kqu {

inline constexpr const char* KQULocalizableKey = "_LOCALIZABLE_";

// Registers the dictionary of bundle's Defaults resource; false (nothing registered)
// when there is none or it does not read as a dictionary.
bool KQURegisterDefaultsFromBundle(KQUUserDefaults& defaults, const KQUBundle& bundle);
// The walk described above; does nothing without a main bundle.
void KQURegisterDefaultsFromFrameworksAndApplication(KQUUserDefaults& defaults);

// value with its localizable markers resolved, recursively: arrays and dictionaries are
// resolved element by element; a dictionary whose only key is "_LOCALIZABLE_" becomes
// the resolution of its value; one with further keys becomes a dictionary when its
// "_LOCALIZABLE_" value is one (the resolutions of all its values merged in insertion
// order, later keys overwriting) or an array when that value is one (the elements of
// all its values' resolutions appended in insertion order). A resolution of the wrong kind, or a
// "_LOCALIZABLE_" value that is neither, is an assertion failure ("KQULocalizedPList() -
// expected dictionary", "... - expected array", "... - unexpected type") and is left
// out (the merge goes on with the others).
[[nodiscard]] KQUValue KQULocalizedPList(const KQUValue& value);

}  // namespace kqu
