// Walks over the registration key tables: delete, grant, lock and unlock,
// and the file locks that go with them. Single actions fail silently; a walk
// always visits every entry, in table order.
#pragma once

#include "engine/KeyTables.h"
#include "foundation/MString.h"

// With `broker` deletes the broker table's HKLM keys; with `control` the
// control machine-key table's, then the control's uninstall entry. Entries
// under the classes root are never touched.
void DeleteRegistrationKeys(bool broker, bool control);

// Grants Administrators and Local System full access to every key of the
// control table, then to the product folders under the system folder and
// the control and library files in them.
void RepairControlPermissions();

// Adds (or removes) the deny entries for Everyone and the anonymous logon
// that keep a table's keys from being changed or deleted.
void LockRegistration(KeyTable table, bool lock);

// Read-only plus a deny entry on attribute changes; false on any failed
// step (and for an empty path).
bool LockFile(const MString& path, bool lock);

// Read access for the Users group on the control's program ids and MIME keys.
void GrantUsersRead();
