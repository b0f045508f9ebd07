// SPDX-License-Identifier: Apache-2.0
// Files and folders only their owner may use, in Windows' terms: an access list with one entry,
// for the user the tool runs as, and nothing inherited from the folder (as Windows' own OpenSSH
// keeps private keys).
#pragma once

#include <string>

// A security descriptor that grants the current user alone every access.
struct OwnerOnlyAccess {
    void* descriptor = nullptr;  // SECURITY_DESCRIPTOR, for SECURITY_ATTRIBUTES
    void* acl = nullptr;
    void* user = nullptr;  // the TOKEN_USER the entry names
};

// Makes it. Returns false with errno set when the system gives no user or list.
bool make_owner_only_access(OwnerOnlyAccess* access);

// Frees what make_owner_only_access made (also after a failure).
void free_owner_only_access(OwnerOnlyAccess* access);

// Who besides its owner the access list of path lets read it (or, with writing, write into it):
// "Everyone", "Users" or "Authenticated Users" (the first such entry), or "" when none of them
// may.
std::string others_who_may_read(const char* path, bool writing = false);
