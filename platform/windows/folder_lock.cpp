// SPDX-License-Identifier: Apache-2.0
// A folder's lock on Windows: a named mutex of the folder's identity (its volume and index, so
// that every spelling of the folder finds the same one), which Windows gives up when its holder
// ends, however it ends; a waiter then gets it as abandoned, and takes it. A folder this process
// holds already is not locked again.
#include <windows.h>

#include <cerrno>
#include <string>

#include "platform/file_identity.hpp"
#include "platform/folder_recovery.hpp"

namespace {

constexpr int kMaxLocks = 8;
HANDLE held_locks[kMaxLocks];
FileIdentity held_folders[kMaxLocks];

}  // namespace

int lock_folder(const char* dir, void (*on_wait)(const char* dir)) {
    const FileIdentity folder = file_identity(dir);
    if (!folder.known) return -1;
    // A folder this process holds already is not waited for again.
    for (int held = 0; held < kMaxLocks; ++held) {
        if (held_locks[held] != nullptr && same_file_identity(held_folders[held], folder)) {
            return held;
        }
    }
    int slot = 0;
    while (slot < kMaxLocks && held_locks[slot] != nullptr) ++slot;
    if (slot == kMaxLocks) {
        errno = EMFILE;
        return -1;
    }
    const std::wstring name = L"Local\\bootseal-folder-" + std::to_wstring(folder.volume) + L"-" +
                              std::to_wstring(folder.file);
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    if (mutex == nullptr) return slot;  // no lock to be had: go on without, as elsewhere
    DWORD waited = WaitForSingleObject(mutex, 0);
    if (waited == WAIT_TIMEOUT) {
        if (on_wait != nullptr) on_wait(dir);
        waited = WaitForSingleObject(mutex, INFINITE);
    }
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        CloseHandle(mutex);
        return slot;
    }
    held_locks[slot] = mutex;
    held_folders[slot] = folder;
    return slot;
}

void unlock_folder(int handle) {
    if (handle < 0 || handle >= kMaxLocks || held_locks[handle] == nullptr) return;
    ReleaseMutex(held_locks[handle]);
    CloseHandle(held_locks[handle]);
    held_locks[handle] = nullptr;
}
