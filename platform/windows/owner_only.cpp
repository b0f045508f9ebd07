// SPDX-License-Identifier: Apache-2.0
#include "platform/windows/owner_only.hpp"

#include <windows.h>
// windows.h first: aclapi.h takes its types from it.
#include <aclapi.h>

#include <cerrno>
#include <cstdlib>

#include "platform/windows/windows_text.hpp"

namespace {

// The user the process runs as, in a buffer of malloc's; nullptr when the system gives none.
TOKEN_USER* current_user() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    auto* user = static_cast<TOKEN_USER*>(size > 0 ? malloc(size) : nullptr);
    if (user != nullptr && !GetTokenInformation(token, TokenUser, user, size, &size)) {
        free(user);
        user = nullptr;
    }
    CloseHandle(token);
    return user;
}

// Whether an entry's rights let it read the file's contents, or write into it (a folder: add and
// remove its files).
bool grants(ACCESS_MASK mask, bool writing) {
    const ACCESS_MASK wanted = writing
                                   ? FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC |
                                         WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED
                                   : FILE_READ_DATA | GENERIC_READ | GENERIC_ALL | MAXIMUM_ALLOWED;
    return (mask & wanted) != 0;
}

}  // namespace

bool make_owner_only_access(OwnerOnlyAccess* access) {
    auto* user = current_user();
    access->user = user;
    if (user == nullptr) {
        errno = EPERM;
        return false;
    }
    const DWORD acl_size =
        static_cast<DWORD>(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(user->User.Sid));
    access->acl = malloc(acl_size);
    access->descriptor = malloc(SECURITY_DESCRIPTOR_MIN_LENGTH);
    auto* acl = static_cast<ACL*>(access->acl);
    const bool made =
        acl != nullptr && access->descriptor != nullptr &&
        InitializeAcl(acl, acl_size, ACL_REVISION) &&
        AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, user->User.Sid) &&
        InitializeSecurityDescriptor(access->descriptor, SECURITY_DESCRIPTOR_REVISION) &&
        SetSecurityDescriptorDacl(access->descriptor, TRUE, acl, FALSE) &&
        SetSecurityDescriptorControl(access->descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    if (!made) set_errno_from_windows(GetLastError());
    return made;
}

void free_owner_only_access(OwnerOnlyAccess* access) {
    free(access->descriptor);
    free(access->acl);
    free(access->user);
    *access = OwnerOnlyAccess();
}

std::string others_who_may_read(const char* path, bool writing) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    std::wstring wide_path = wide_text(path);
    if (GetNamedSecurityInfoW(&wide_path[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
        return "";
    }
    std::string who;
    if (dacl == nullptr) who = "Everyone";  // no list at all: nothing is denied to anyone
    const struct {
        WELL_KNOWN_SID_TYPE type;
        const char* name;
    } kOthers[] = {{WinWorldSid, "Everyone"},
                   {WinBuiltinUsersSid, "Users"},
                   {WinAuthenticatedUserSid, "Authenticated Users"}};
    for (DWORD i = 0; who.empty() && dacl != nullptr && i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(dacl, i, &entry)) continue;
        const auto* header = static_cast<ACE_HEADER*>(entry);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
        const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        if (!grants(allowed->Mask, writing)) continue;
        PSID sid = const_cast<DWORD*>(&allowed->SidStart);
        for (const auto& other : kOthers) {
            BYTE buffer[SECURITY_MAX_SID_SIZE];
            DWORD size = sizeof(buffer);
            if (CreateWellKnownSid(other.type, nullptr, buffer, &size) && EqualSid(sid, buffer)) {
                who = other.name;
                break;
            }
        }
    }
    LocalFree(descriptor);
    return who;
}
