// The registry keys of the broker's and the control's registrations, as
// fixed tables the engine walks to delete, repair, lock or unlock them.
// Entries name their root first: "CLASSES_ROOT\" (the classes root) or
// "MACHINE\" (HKLM), the notation the system's named-object security calls
// take as they are.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

enum class KeyTable {
  kBroker,          // every key of the broker registration, old generations too
  kControl,         // the control's whole registration set
  kControlMachine,  // the control's class and type-library keys under HKLM
};

enum class KeyRoot { kClassesRoot, kMachine };

inline constexpr std::size_t kMaxKeyEntryBytes = 1024;

// The control's (player class's) class id in registry form.
extern const char kControlClassId[];

std::span<const char* const> KeyTableEntries(KeyTable table);

// The program-id and MIME part of the control table: what the Users group
// may read.
std::span<const char* const> ControlUsersReadEntries();

// Splits an entry into its root and the key path below it; false for an
// entry in neither notation, an empty path or one longer than an entry may be.
bool SplitKeyEntry(std::string_view entry, KeyRoot* root, std::string_view* path);
