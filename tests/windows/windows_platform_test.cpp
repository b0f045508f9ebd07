// SPDX-License-Identifier: Apache-2.0
// The Windows side of platform/: names in UTF-8 through the wide-character calls, files replaced
// whole, file identity, and key files only their owner may read.
#include <gtest/gtest.h>
#include <windows.h>
// windows.h first: aclapi.h takes its types from it.
#include <aclapi.h>

#include <cstdio>
#include <string>

#include "platform/file_identity.hpp"
#include "platform/file_open.hpp"
#include "platform/file_replace.hpp"
#include "platform/file_status.hpp"
#include "platform/folders.hpp"
#include "platform/random_bytes.hpp"
#include "platform/secret_file.hpp"
#include "platform/windows/owner_only.hpp"
#include "platform/windows/windows_text.hpp"

namespace {

std::string read_back(const std::string& path) {
    FILE* file = open_file(path.c_str(), "rb");
    if (file == nullptr) return "<none>";
    std::string text;
    char buffer[256];
    size_t got = 0;
    while ((got = fread(buffer, 1, sizeof(buffer), file)) > 0) text.append(buffer, got);
    fclose(file);
    return text;
}

TEST(WindowsPlatform, UnicodeNamesAreWrittenReplacedAndReadWhole) {
    const std::string folder = "bootseal-test-folder-\xc3\xa9";  // "é"
    remove_empty_folder(folder.c_str());
    ASSERT_EQ(make_folder(folder.c_str(), 0700), 0);
    const std::string path = folder + "\\caf\xc3\xa9-\xe3\x83\xad\xe3\x83\xbc\xe3\x83\x80.bin";
    const std::string first = "first contents";
    const std::string second = "second, longer contents";
    for (const std::string& text : {first, second}) {
        ASSERT_EQ(replace_file(path.c_str(), reinterpret_cast<const uint8_t*>(text.data()),
                               text.size(), 0644, FileMode::kLikeOpen, nullptr),
                  WriteResult::kWritten);
        EXPECT_EQ(read_back(path), text);
    }
    EXPECT_EQ(path_kind(path.c_str()), PathKind::kRegular);
    EXPECT_EQ(path_kind(folder.c_str()), PathKind::kFolder);
    EXPECT_TRUE(
        same_file_identity(file_identity(path.c_str()), file_identity((".\\" + path).c_str())));
    EXPECT_FALSE(same_file_identity(file_identity(path.c_str()), file_identity(folder.c_str())));
    unsigned char buffer[64];
    size_t size = 0;
    ASSERT_EQ(read_secret_file(path.c_str(), buffer, sizeof(buffer), &size), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), size), second);
    EXPECT_EQ(read_secret_file((folder + "\\absent").c_str(), buffer, sizeof(buffer), &size),
              kSecretFileMissing);
    EXPECT_EQ(_wremove(wide_text(path.c_str()).c_str()), 0);
    EXPECT_TRUE(remove_empty_folder(folder.c_str()));
}

// A key file written with mode 0600 has an access list of its owner alone; one that grants
// Everyone reading is seen as such.
TEST(WindowsPlatform, KeyFilesAreTheirOwnersOnly) {
    const std::string path = "bootseal-test-key.txt";
    const std::string key = "00112233445566778899aabbccddeeff\n";
    ASSERT_EQ(replace_file(path.c_str(), reinterpret_cast<const uint8_t*>(key.data()), key.size(),
                           0600, FileMode::kExact, nullptr),
              WriteResult::kWritten);
    EXPECT_EQ(others_who_may_read(path.c_str()), "");
    // Everyone may read it now.
    BYTE everyone[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(everyone);
    ASSERT_TRUE(CreateWellKnownSid(WinWorldSid, nullptr, everyone, &size));
    EXPLICIT_ACCESSW entry = {};
    entry.grfAccessPermissions = GENERIC_READ;
    entry.grfAccessMode = GRANT_ACCESS;
    entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entry.Trustee.ptstrName = reinterpret_cast<LPWSTR>(everyone);
    PACL acl = nullptr;
    ASSERT_EQ(SetEntriesInAclW(1, &entry, nullptr, &acl), static_cast<DWORD>(ERROR_SUCCESS));
    std::wstring wide_path = wide_text(path.c_str());
    ASSERT_EQ(SetNamedSecurityInfoW(&wide_path[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, acl, nullptr),
              static_cast<DWORD>(ERROR_SUCCESS));
    LocalFree(acl);
    EXPECT_EQ(others_who_may_read(path.c_str()), "Everyone");
    EXPECT_EQ(_wremove(wide_path.c_str()), 0);
}

TEST(WindowsPlatform, RandomBytesDiffer) {
    uint8_t a[32] = {0}, b[32] = {0};
    ASSERT_TRUE(random_bytes(a, sizeof(a)));
    ASSERT_TRUE(random_bytes(b, sizeof(b)));
    EXPECT_NE(std::string(a, a + 32), std::string(b, b + 32));
}

}  // namespace
