// SPDX-License-Identifier: Apache-2.0
#include "keygen/token_keys.hpp"

#include <cstdio>
#include <string>
#include <vector>

#include "keys/key_files.hpp"
#include "token/pkcs11_token.hpp"

int print_token_keys(const char* tool, const char* uri) {
    std::string label, why;
    std::vector<TokenKeyInfo> keys;
    const int result = list_token_keys(uri, &label, &keys, &why);
    close_token();
    if (result != 0) {
        fprintf(stderr, "%s: %s\n", tool, why.c_str());
        return 1;
    }
    printf("token '%s': %zu RSA key%s\n", label.c_str(), keys.size(), keys.size() == 1 ? "" : "s");
    for (const TokenKeyInfo& key : keys) {
        const char* objects = key.has_private && key.has_public ? "private and public"
                              : key.has_private                 ? "private only"
                                                                : "public only";
        printf("label '%s', id %s, ", key.label.c_str(), key.id.empty() ? "-" : key.id.c_str());
        if (key.bits != 0) {
            printf("%u bits, top byte 0x%02X, %s\n", key.bits, key.top_byte, objects);
        } else {
            printf("size not shown, %s\n", objects);
        }
    }
    return 0;
}

int read_token_public_key(const char* tool, const char* uri, RsaKeyContext* key) {
    std::string why;
    bool have_public = false;
    int status = 0;
    if (open_token_key(uri, key, &have_public, &why) != 0) {
        fprintf(stderr, "%s: %s; nothing written\n", tool, why.c_str());
        status = 1;
    } else if (!have_public) {
        fprintf(stderr,
                "%s: the token shows neither a public key nor the modulus of the key the URI "
                "names; nothing written\n",
                tool);
        status = 1;
    } else if (public_exponent_fault(&key->E)[0] != '\0') {
        fprintf(stderr, "%s: the token's key signs nothing: %s; nothing written\n", tool,
                public_exponent_fault(&key->E));
        status = 1;
    }
    close_token();
    return status;
}
