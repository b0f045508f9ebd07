// SPDX-License-Identifier: Apache-2.0
// The token calls of a build without p11-kit (the Windows build: Debian has no p11-kit for
// MinGW). A pkcs11: URI is still recognised, so that it is refused as a usage error that says
// why, rather than taken for a file name.
#include <cctype>

#include "token/pkcs11_token.hpp"

namespace {

const char kNotInThisBuild[] =
    "PKCS#11 tokens are not in this build of the tools (it has no p11-kit): sign with a key file, "
    "or in two steps with --to-sign and --attach, the block signed where the token is";

}  // namespace

bool is_pkcs11_uri(const char* text) {
    const char scheme[] = "pkcs11:";
    for (size_t i = 0; i + 1 < sizeof(scheme); ++i) {
        if (tolower(static_cast<unsigned char>(text[i])) != scheme[i]) return false;
    }
    return true;
}

// Nothing of the URI is parsed, so nothing of it is shown: it may hold a PIN.
std::string shown_pkcs11_uri(const char*) { return "pkcs11:..."; }

std::string pkcs11_pin_source(const char*) { return ""; }

int check_pkcs11_uri(const char*, std::string* why) {
    *why = kNotInThisBuild;
    return kTokenBadUri;
}

int open_token_key(const char*, RsaKeyContext*, bool* have_public, std::string* why) {
    *have_public = false;
    *why = kNotInThisBuild;
    return kTokenBadUri;
}

int token_private_operation(const uint8_t[128], uint8_t[128]) { return -1; }

const std::string& token_error() {
    static const std::string error = kNotInThisBuild;
    return error;
}

int generate_token_key(const char*, unsigned, PairWatcher, void*, RsaKeyContext*, int* attempts,
                       std::string* why) {
    *attempts = 0;
    *why = kNotInThisBuild;
    return kTokenBadUri;
}

int delete_generated_key(std::string* why) {
    *why = kNotInThisBuild;
    return -1;
}

int list_token_keys(const char*, std::string*, std::vector<TokenKeyInfo>*, std::string* why) {
    *why = kNotInThisBuild;
    return kTokenBadUri;
}

void close_token() {}
