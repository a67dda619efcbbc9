// The user's data across an upgrade of the 2.x product: two files of the
// installation folder and three registry keys are copied to temporary files
// before the old package is removed, and put back after the new one is
// installed. Each temporary file is recorded under the item's name in the
// Save key. The step handlers are members of CSetupContext.
#pragma once

#include <string>

#include "platform/wintypes.h"

class CSetupContext;

inline constexpr char kSaveKey[] = "Software\\Corvane\\Save";
// GetSavedItem's buffer: 256 bytes read and the terminator.
inline constexpr DWORD kSavedItemBuffer = 257;

// Records `text` as the REG_SZ value `item` of the Save key.
bool SetSavedItem(CSetupContext& context, const std::string& item, const std::string& text);
// Reads the Save key's value `item` (at most 256 bytes).
bool GetSavedItem(CSetupContext& context, const std::string& item, std::string* text);
// Removes the Save value of an item that was not preserved in this run, so
// that a copy recorded by an earlier upgrade is never restored over the
// user's current data. Logs what it removed or could not remove.
void ClearSavedItem(CSetupContext& context, const std::string& item);

// The Save key's mark of an upgrade under way ("UpgradePending"), and with it
// everything this file keeps there: the items' values name the copies that
// are not back yet, and each value goes once its item is restored. The mark
// says how far the upgrade came, so that a setup started again after a
// failed or interrupted one knows whether what is in place now is the
// user's data or the new package's:
//   1  saved: the earlier edition may be removed, but nothing new is in place;
//   2  the new package is being installed;
//   3  installed: "<item> Installed" beside each value records what the new
//      package put in the item's place.
// Reads and writes of the mark live here alone.
enum class UpgradeStage : DWORD { kNone = 0, kSaved = 1, kInstalling = 2, kInstalled = 3 };
UpgradeStage ReadUpgradeStage(CSetupContext& context);

// The analysis found no 2.x edition: true when an earlier upgrade left
// copies that never came back (they are then put back after the new package
// is installed); otherwise a mark left behind is cleared.
bool FindUnfinishedUpgrade(CSetupContext& context);
// The product package is about to run, and has run and installed: the
// stages of a marked upgrade (nothing without a mark).
void NoteProductInstalling(CSetupContext& context);
void NoteProductInstalled(CSetupContext& context);
// The installation is complete: the mark goes when no copy is left to restore.
void EndUpgrade(CSetupContext& context);

// Copies `fileName` of the previous installation folder to a new temporary
// file and records it under `item`.
bool PreserveFile(CSetupContext& context, const std::string& item, const std::string& fileName);
// Copies the file recorded under `item` back into the previous installation
// folder as `fileName`, and deletes the temporary copy once it is back.
bool RestoreFile(CSetupContext& context, const std::string& item, const std::string& fileName);

// A new temporary file ("crv" prefix) in the temporary folder.
DWORD NewTemporaryFile(CSetupContext& context, std::string* path);
