// SPDX-License-Identifier: Apache-2.0
#include "token/pkcs11_token.hpp"

#include <mbedtls/bignum.h>
#include <mbedtls/platform_util.h>
#include <p11-kit/p11-kit.h>
#include <p11-kit/pkcs11.h>
#include <p11-kit/uri.h>
#include <strings.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "keys/key_reader.hpp"
#include "platform/secret_prompt.hpp"

namespace {

constexpr size_t kBlockSize = 128;
constexpr size_t kMaxPin = 256;
// A token's primes are often drawn with their top two bits set, which makes a top byte of 0xFF
// rare (about one modulus in eight thousand): allow for that many and more.
constexpr int kMaxGenerations = 100000;

// The one token session of a run.
CK_FUNCTION_LIST** registered_modules = nullptr;  // p11-kit's registry, when it was searched
CK_FUNCTION_LIST* path_module = nullptr;          // a module named by module-path
CK_FUNCTION_LIST* module = nullptr;               // the module of the token in use
CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
CK_OBJECT_HANDLE private_key = CK_INVALID_HANDLE;
// The pair generate_token_key kept, until close_token.
CK_OBJECT_HANDLE generated_public = CK_INVALID_HANDLE;
CK_OBJECT_HANDLE generated_private = CK_INVALID_HANDLE;
std::string generated_token;  // its token's label, for messages
bool logged_in = false;
std::string last_error;

std::string rv_text(CK_RV rv) {
    switch (rv) {
        case CKR_PIN_INCORRECT:
            return "wrong PIN";
        case CKR_PIN_LOCKED:
            return "the PIN is locked";
        case CKR_PIN_LEN_RANGE:
            return "a PIN of a length the token does not take";
        case CKR_DATA_INVALID:
            return "the token refused the data";
        case CKR_MECHANISM_INVALID:
            return "the token does not offer this mechanism";
        case CKR_KEY_FUNCTION_NOT_PERMITTED:
            return "the key may not be used for signing";
        case CKR_ACTION_PROHIBITED:
            return "the token does not allow it";
        case CKR_TOKEN_WRITE_PROTECTED:
            return "the token is write-protected";
        case CKR_DEVICE_MEMORY:
            return "the token is full";
        default:
            break;
    }
    // p11-kit words every code the standard defines; a vendor's own code has no words anywhere.
    const char* words = p11_kit_strerror(rv);
    if (words != nullptr && strncmp(words, "Unknown", 7) != 0) {
        std::string text = std::string("the token says: ") + words;
        text[16] = static_cast<char>(tolower(static_cast<unsigned char>(text[16])));
        return text;
    }
    return "the token failed with a code of its own maker";
}

std::string padded_text(const unsigned char* field, size_t size) {
    std::string text(reinterpret_cast<const char*>(field), size);
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

// Attributes whose values may be shown: the path's (RFC 7512) and the query's besides pin-value.
const char* const kShownPathAttributes[] = {
    "token",  "manufacturer", "serial", "model", "library-manufacturer", "library-description",
    "object", "id",           "type",   "slot-id", "library-version",    "slot-description",
    "slot-manufacturer"};
const char* const kShownQueryAttributes[] = {"module-name", "module-path", "pin-source"};

bool is_attribute_name(const std::string& name) {
    if (name.empty()) return false;
    for (const char c : name) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-')) return false;
    }
    return true;
}

// One attribute as it may be shown: name=value when the name is one of shown, name=... for any
// other name, and ... for what is not an attribute at all (a typo may hold a PIN).
template <size_t N>
std::string shown_attribute(const std::string& attribute, const char* const (&shown)[N]) {
    const size_t equals = attribute.find('=');
    if (equals == std::string::npos) return attribute.empty() ? "" : "...";
    const std::string name = attribute.substr(0, equals);
    if (!is_attribute_name(name)) return "...";
    for (const char* known : shown) {
        if (name == known) return attribute;
    }
    return name + "=...";
}

// The attributes of one part of the URI, each as it may be shown. Both parts are split at ';'
// and '&' alike, so that a separator put in the wrong part cannot carry a PIN into view.
template <size_t N>
std::string shown_part(const std::string& part, const char* const (&shown)[N]) {
    std::string text;
    size_t start = 0;
    for (;;) {
        const size_t end = part.find_first_of(";&", start);
        text += shown_attribute(part.substr(start, end - start), shown);
        if (end == std::string::npos) return text;
        text += part[end];
        start = end + 1;
    }
}

// A pin-source names a file, with or without the file: prefix.
const char* pin_source_file(const char* source) {
    return strncmp(source, "file:", 5) == 0 ? source + 5 : source;
}

P11KitUri* parse_uri(const char* text, std::string* why) {
    P11KitUri* uri = p11_kit_uri_new();
    const int result = p11_kit_uri_parse(text, P11_KIT_URI_FOR_OBJECT_ON_TOKEN_AND_MODULE, uri);
    if (result != P11_KIT_URI_OK) {
        *why = "malformed PKCS#11 URI '" + shown_pkcs11_uri(text) +
               "': " + p11_kit_uri_message(result);
    } else if (p11_kit_uri_any_unrecognized(uri)) {
        *why = "the PKCS#11 URI '" + shown_pkcs11_uri(text) +
               "' has attributes this tool does not know";
    } else {
        return uri;
    }
    p11_kit_uri_free(uri);
    return nullptr;
}

// The modules the URI allows, loaded and initialised; *searched says which, for messages.
bool load_modules(P11KitUri* uri, std::vector<CK_FUNCTION_LIST*>* modules, std::string* searched,
                  std::string* why) {
    const char* path = p11_kit_uri_get_module_path(uri);
    const char* name = p11_kit_uri_get_module_name(uri);
    if (path != nullptr) {
        *searched = std::string("module ") + path;
        path_module = p11_kit_module_load(path, 0);
        if (path_module == nullptr) {
            *why = std::string("cannot load the PKCS#11 module ") + path + ": " + p11_kit_message();
            return false;
        }
        const CK_RV rv = p11_kit_module_initialize(path_module);
        if (rv != CKR_OK) {
            *why = std::string("the PKCS#11 module ") + path + " does not start: " + rv_text(rv);
            p11_kit_module_release(path_module);
            path_module = nullptr;
            return false;
        }
        modules->push_back(path_module);
        return true;
    }
    registered_modules = p11_kit_modules_load_and_initialize(0);
    *searched = "the registered PKCS#11 modules (";
    for (CK_FUNCTION_LIST** m = registered_modules; m != nullptr && *m != nullptr; ++m) {
        char* module_name = p11_kit_module_get_name(*m);
        const bool wanted = name == nullptr || (module_name && strcmp(module_name, name) == 0);
        *searched += std::string(modules->empty() && searched->back() == '(' ? "" : ", ") +
                     (module_name ? module_name : "?");
        if (wanted) modules->push_back(*m);
        free(module_name);
    }
    *searched += name ? std::string(") for module-name=") + name : ")";
    if (name != nullptr && modules->empty()) {
        // A misspelt module name is not "no token": say which modules there are.
        *why = std::string("no PKCS#11 module named '") + name + "' is registered with p11-kit; " +
               "registered: " +
               searched->substr(searched->find('(') + 1,
                                searched->find(')') - searched->find('(') - 1);
        return false;
    }
    return true;
}

struct TokenSlot {
    CK_FUNCTION_LIST* module;
    CK_SLOT_ID slot;
    std::string label;
};

// The objects of the session that match every attribute of search (at most limit of them).
std::vector<CK_OBJECT_HANDLE> find_matching(CK_FUNCTION_LIST* m, CK_SESSION_HANDLE s,
                                            std::vector<CK_ATTRIBUTE>& search, size_t limit) {
    std::vector<CK_OBJECT_HANDLE> found;
    if (m->C_FindObjectsInit(s, search.data(), search.size()) != CKR_OK) return found;
    CK_OBJECT_HANDLE handles[16];
    CK_ULONG count = 0;
    while (found.size() < limit && m->C_FindObjects(s, handles, 16, &count) == CKR_OK &&
           count > 0) {
        found.insert(found.end(), handles, handles + count);
    }
    m->C_FindObjectsFinal(s);
    if (found.size() > limit) found.resize(limit);
    return found;
}

// The URI's object attributes (label, id, class), with the class replaced when one is given.
std::vector<CK_ATTRIBUTE> uri_search(P11KitUri* uri, CK_OBJECT_CLASS* object_class) {
    CK_ULONG n_uri = 0;
    CK_ATTRIBUTE* uri_attributes = p11_kit_uri_get_attributes(uri, &n_uri);
    std::vector<CK_ATTRIBUTE> search;
    if (object_class != nullptr) {
        search.push_back({CKA_CLASS, object_class, sizeof(*object_class)});
    }
    for (CK_ULONG i = 0; i < n_uri; ++i) {
        if (object_class == nullptr || uri_attributes[i].type != CKA_CLASS) {
            search.push_back(uri_attributes[i]);
        }
    }
    return search;
}

// Whether the token holds an object the URI names, among those it shows before a login (the
// PIN is never tried on a token the URI may not mean: a wrong one counts towards its lock).
bool token_holds_object(P11KitUri* uri, const TokenSlot& token) {
    CK_SESSION_HANDLE s = CK_INVALID_HANDLE;
    if (token.module->C_OpenSession(token.slot, CKF_SERIAL_SESSION, nullptr, nullptr, &s) !=
        CKR_OK) {
        return false;
    }
    std::vector<CK_ATTRIBUTE> search = uri_search(uri, nullptr);
    const bool held = !find_matching(token.module, s, search, 1).empty();
    token.module->C_CloseSession(s);
    return held;
}

// The labels of tokens as a message lists them: 'a', 'b'.
std::string token_labels(const std::vector<TokenSlot>& tokens) {
    std::string text;
    for (size_t i = 0; i < tokens.size(); ++i) text += (i ? ", '" : "'") + tokens[i].label + "'";
    return text;
}

// Finds the one token the URI names.
bool find_token(P11KitUri* uri, TokenSlot* found, std::string* why) {
    std::vector<CK_FUNCTION_LIST*> modules;
    std::string searched;
    if (!load_modules(uri, &modules, &searched, why)) return false;
    std::vector<TokenSlot> matches;
    for (CK_FUNCTION_LIST* m : modules) {
        CK_INFO info;
        if (m->C_GetInfo(&info) != CKR_OK || !p11_kit_uri_match_module_info(uri, &info)) continue;
        CK_ULONG count = 0;
        if (m->C_GetSlotList(CK_TRUE, nullptr, &count) != CKR_OK || count == 0) continue;
        std::vector<CK_SLOT_ID> slots(count);
        if (m->C_GetSlotList(CK_TRUE, slots.data(), &count) != CKR_OK) continue;
        for (CK_ULONG i = 0; i < count; ++i) {
            CK_TOKEN_INFO token;
            if (m->C_GetTokenInfo(slots[i], &token) != CKR_OK) continue;
            if (!p11_kit_uri_match_token_info(uri, &token)) continue;
            matches.push_back({m, slots[i], padded_text(token.label, sizeof(token.label))});
        }
    }
    if (matches.empty()) {
        *why = "no token matches the URI; searched " + searched;
        return false;
    }
    if (matches.size() > 1) {
        // The URI names an object: the token that holds it is the one meant.
        std::vector<TokenSlot> holders;
        CK_ULONG n_uri = 0;
        if (p11_kit_uri_get_attributes(uri, &n_uri) != nullptr && n_uri > 0) {
            for (const TokenSlot& token : matches) {
                if (token_holds_object(uri, token)) holders.push_back(token);
            }
        }
        if (holders.size() == 1) {
            *found = holders[0];
            return true;
        }
        if (holders.size() > 1) {
            *why = "the object the URI names is in several tokens (" + token_labels(holders) +
                   "): name one with token= or serial=";
            return false;
        }
        *why = "several tokens match the URI (" + token_labels(matches) +
               "): name one with token= or serial=";
        return false;
    }
    *found = matches[0];
    return true;
}

// The PIN from the URI's pin-value or pin-source, or typed on the terminal.
bool get_pin(P11KitUri* uri, const std::string& token, char pin[kMaxPin], std::string* why) {
    if (const char* value = p11_kit_uri_get_pin_value(uri)) {
        snprintf(pin, kMaxPin, "%s", value);
        return true;
    }
    if (const char* source = p11_kit_uri_get_pin_source(uri)) {
        // Its first line, the file read once and whole into a buffer that is wiped: no copy of
        // the PIN in a buffer the C library frees, and a pipe serves as well as a file.
        std::string detail;
        const int length = read_secret_line(pin_source_file(source), pin, kMaxPin, &detail);
        // An empty line would be tried as the PIN, and a wrong one counts towards its lock.
        if (length <= 0) {
            *why = std::string("cannot read the PIN from pin-source ") + source + ": " +
                   (length == 0 ? "its first line is empty" : detail);
            return false;
        }
    } else {
        const std::string prompt = "PIN for token '" + token + "': ";
        if (ask_secret_on_terminal(prompt.c_str(), pin, kMaxPin) < 0) {
            *why = "token '" + token +
                   "' needs its PIN: give pin-value or pin-source in the URI, or run on a terminal";
            return false;
        }
    }
    size_t length = strlen(pin);
    while (length > 0 && (pin[length - 1] == '\n' || pin[length - 1] == '\r')) pin[--length] = 0;
    return true;
}

// Opens a session on the URI's token and logs in.
bool open_session(P11KitUri* uri, TokenSlot* token, bool read_write, std::string* why) {
    if (!find_token(uri, token, why)) return false;
    module = token->module;
    CK_FLAGS flags = CKF_SERIAL_SESSION | (read_write ? CKF_RW_SESSION : 0);
    CK_RV rv = module->C_OpenSession(token->slot, flags, nullptr, nullptr, &session);
    if (rv != CKR_OK) {
        *why = "cannot open a session with token '" + token->label + "': " + rv_text(rv);
        return false;
    }
    char pin[kMaxPin] = {0};
    if (!get_pin(uri, token->label, pin, why)) {
        mbedtls_platform_zeroize(pin, sizeof(pin));
        return false;
    }
    rv = module->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR*>(pin), strlen(pin));
    mbedtls_platform_zeroize(pin, sizeof(pin));
    // p11-kit keeps its own copy of a pin-value and frees it without wiping: wipe it here.
    if (const char* value = p11_kit_uri_get_pin_value(uri)) {
        mbedtls_platform_zeroize(const_cast<char*>(value), strlen(value));
    }
    if (rv != CKR_OK && rv != CKR_USER_ALREADY_LOGGED_IN) {
        *why = "cannot log in to token '" + token->label + "': " + rv_text(rv);
        return false;
    }
    logged_in = true;
    return true;
}

// The objects of a class that carry the URI's id and label.
std::vector<CK_OBJECT_HANDLE> find_objects(P11KitUri* uri, CK_OBJECT_CLASS object_class) {
    std::vector<CK_ATTRIBUTE> search = uri_search(uri, &object_class);
    return find_matching(module, session, search, 4);
}

bool read_mpi_attribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type, mbedtls_mpi* value) {
    unsigned char bytes[1024];
    CK_ATTRIBUTE attribute = {type, bytes, sizeof(bytes)};
    if (module->C_GetAttributeValue(session, object, &attribute, 1) != CKR_OK) return false;
    if (attribute.ulValueLen == CK_UNAVAILABLE_INFORMATION || attribute.ulValueLen == 0) return false;
    return mbedtls_mpi_read_binary(value, bytes, attribute.ulValueLen) == 0;
}

bool has_raw_rsa(const TokenSlot& token) {
    CK_ULONG count = 0;
    if (module->C_GetMechanismList(token.slot, nullptr, &count) != CKR_OK) return false;
    std::vector<CK_MECHANISM_TYPE> mechanisms(count);
    if (module->C_GetMechanismList(token.slot, mechanisms.data(), &count) != CKR_OK) return false;
    for (CK_ULONG i = 0; i < count; ++i) {
        if (mechanisms[i] == CKM_RSA_X_509) return true;
    }
    return false;
}

// Reads N and E of a key pair: from its public-key object (same id and label), or from the
// private key object itself where the token shows them there.
bool read_public_values(P11KitUri* uri, CK_OBJECT_HANDLE private_object, RsaKeyContext* key) {
    const std::vector<CK_OBJECT_HANDLE> publics = find_objects(uri, CKO_PUBLIC_KEY);
    if (publics.size() == 1 && read_mpi_attribute(publics[0], CKA_MODULUS, &key->N) &&
        read_mpi_attribute(publics[0], CKA_PUBLIC_EXPONENT, &key->E)) {
        return true;
    }
    return read_mpi_attribute(private_object, CKA_MODULUS, &key->N) &&
           read_mpi_attribute(private_object, CKA_PUBLIC_EXPONENT, &key->E);
}

}  // namespace

bool is_pkcs11_uri(const char* text) { return strncasecmp(text, "pkcs11:", 7) == 0; }

std::string shown_pkcs11_uri(const char* uri) {
    const std::string text = uri;
    const size_t scheme = is_pkcs11_uri(uri) ? 7 : 0;
    const size_t query = text.find('?', scheme);
    std::string shown = text.substr(0, scheme) +
                        shown_part(text.substr(scheme, query - scheme), kShownPathAttributes);
    if (query != std::string::npos) {
        shown += '?' + shown_part(text.substr(query + 1), kShownQueryAttributes);
    }
    return shown;
}

std::string pkcs11_pin_source(const char* text) {
    P11KitUri* uri = p11_kit_uri_new();
    std::string path;
    const int parsed = p11_kit_uri_parse(text, P11_KIT_URI_FOR_OBJECT_ON_TOKEN_AND_MODULE, uri);
    if (parsed == P11_KIT_URI_OK) {
        if (const char* source = p11_kit_uri_get_pin_source(uri)) path = pin_source_file(source);
    }
    p11_kit_uri_free(uri);
    return path;
}

int check_pkcs11_uri(const char* text, std::string* why) {
    P11KitUri* uri = parse_uri(text, why);
    if (uri == nullptr) return kTokenBadUri;
    p11_kit_uri_free(uri);
    return 0;
}

int open_token_key(const char* text, RsaKeyContext* public_key, bool* have_public,
                   std::string* why) {
    *have_public = false;
    P11KitUri* uri = parse_uri(text, why);
    if (uri == nullptr) return kTokenBadUri;
    TokenSlot token;
    int result = -1;
    if (open_session(uri, &token, false, why)) {
        const std::vector<CK_OBJECT_HANDLE> keys = find_objects(uri, CKO_PRIVATE_KEY);
        CK_KEY_TYPE key_type = 0;
        CK_ATTRIBUTE type_attribute = {CKA_KEY_TYPE, &key_type, sizeof(key_type)};
        RsaKeyContext size_probe;
        rsa_key_init(&size_probe);
        if (keys.empty()) {
            *why = "no private key in token '" + token.label + "' matches the URI";
        } else if (keys.size() > 1) {
            *why = "several private keys in token '" + token.label +
                   "' match the URI: name one with id= or object=";
        } else if (module->C_GetAttributeValue(session, keys[0], &type_attribute, 1) != CKR_OK ||
                   key_type != CKK_RSA) {
            *why = "the key in token '" + token.label + "' is not an RSA key";
        } else if (!read_mpi_attribute(keys[0], CKA_MODULUS, &size_probe.N) ||
                   (mbedtls_mpi_bitlen(&size_probe.N) + 7) / 8 != kBlockSize) {
            *why = "the key in token '" + token.label + "' is a " +
                   std::to_string(mbedtls_mpi_bitlen(&size_probe.N)) +
                   "-bit RSA key; the header takes a 1024-bit key";
        } else if (!has_raw_rsa(token)) {
            *why = "token '" + token.label + "' does not offer raw RSA (CKM_RSA_X_509)";
        } else {
            private_key = keys[0];
            *have_public = read_public_values(uri, keys[0], public_key);
            if (*have_public) public_key->len = kBlockSize;
            result = 0;
        }
        rsa_key_free(&size_probe);
    }
    p11_kit_uri_free(uri);
    return result;
}

int token_private_operation(const uint8_t input[128], uint8_t output[128]) {
    CK_MECHANISM mechanism = {CKM_RSA_X_509, nullptr, 0};
    CK_RV rv = module->C_SignInit(session, &mechanism, private_key);
    CK_ULONG length = kBlockSize;
    if (rv == CKR_OK) {
        rv = module->C_Sign(session, const_cast<CK_BYTE*>(input), kBlockSize, output, &length);
    }
    if (rv != CKR_OK || length != kBlockSize) {
        last_error = "the token did not sign: " + (rv != CKR_OK ? rv_text(rv) : "a short result");
        return -1;
    }
    return 0;
}

const std::string& token_error() { return last_error; }

namespace {

// Deletes a pair, its private key first: a failure leaves the whole pair, never a lone private
// key. Returns false with what is left in *why.
bool destroy_pair(CK_OBJECT_HANDLE pub, CK_OBJECT_HANDLE priv, std::string* why) {
    CK_RV rv = module->C_DestroyObject(session, priv);
    if (rv == CKR_OK) rv = module->C_DestroyObject(session, pub);
    if (rv == CKR_OK) return true;
    *why = "cannot delete a key pair this run made in token '" + generated_token + "' (" +
           rv_text(rv) + "): delete the objects of the URI's label and id with the token's tools";
    return false;
}

}  // namespace

int generate_token_key(const char* text, unsigned min_top_byte, PairWatcher watcher,
                       void* watcher_state, RsaKeyContext* public_key, int* attempts,
                       std::string* why) {
    *attempts = 0;
    P11KitUri* uri = parse_uri(text, why);
    if (uri == nullptr) return kTokenBadUri;
    CK_ATTRIBUTE* label = p11_kit_uri_get_attribute(uri, CKA_LABEL);
    CK_ATTRIBUTE* id = p11_kit_uri_get_attribute(uri, CKA_ID);
    TokenSlot token;
    int result = -1;
    if (label == nullptr && id == nullptr) {
        *why = "name the new key with object= or id= in the URI";
    } else if (open_session(uri, &token, true, why)) {
        generated_token = token.label;
        if (!find_objects(uri, CKO_PRIVATE_KEY).empty() ||
            !find_objects(uri, CKO_PUBLIC_KEY).empty()) {
            *why = "token '" + token.label +
                   "' already holds a key of this id or label (see --list); nothing generated";
        } else {
            CK_ULONG bits = 1024;
            CK_BYTE exponent[] = {0x01, 0x00, 0x01};
            CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
            // The pair signs and verifies and does nothing else: a signing key that also
            // decrypts or unwraps could be led to sign by a decryption request.
            std::vector<CK_ATTRIBUTE> public_template = {
                {CKA_TOKEN, &yes, sizeof(yes)},
                {CKA_VERIFY, &yes, sizeof(yes)},
                {CKA_ENCRYPT, &no, sizeof(no)},
                {CKA_WRAP, &no, sizeof(no)},
                {CKA_MODULUS_BITS, &bits, sizeof(bits)},
                {CKA_PUBLIC_EXPONENT, exponent, sizeof(exponent)}};
            std::vector<CK_ATTRIBUTE> private_template = {
                {CKA_TOKEN, &yes, sizeof(yes)},     {CKA_PRIVATE, &yes, sizeof(yes)},
                {CKA_SENSITIVE, &yes, sizeof(yes)}, {CKA_EXTRACTABLE, &no, sizeof(no)},
                {CKA_SIGN, &yes, sizeof(yes)},      {CKA_DECRYPT, &no, sizeof(no)},
                {CKA_UNWRAP, &no, sizeof(no)},      {CKA_DERIVE, &no, sizeof(no)}};
            for (CK_ATTRIBUTE* named : {label, id}) {
                if (named == nullptr) continue;
                public_template.push_back(*named);
                private_template.push_back(*named);
            }
            CK_MECHANISM mechanism = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
            if (watcher != nullptr && !watcher(watcher_state, 0)) result = kTokenStopped;
            while (result == -1 && *attempts < kMaxGenerations) {
                CK_OBJECT_HANDLE pub = CK_INVALID_HANDLE, priv = CK_INVALID_HANDLE;
                const CK_RV rv = module->C_GenerateKeyPair(
                    session, &mechanism, public_template.data(), public_template.size(),
                    private_template.data(), private_template.size(), &pub, &priv);
                if (rv != CKR_OK) {
                    *why = "token '" + token.label + "' cannot generate the key pair: " + rv_text(rv);
                    break;
                }
                ++*attempts;
                unsigned char modulus[kBlockSize] = {0};
                const bool read = read_mpi_attribute(pub, CKA_MODULUS, &public_key->N) &&
                                  read_mpi_attribute(pub, CKA_PUBLIC_EXPONENT, &public_key->E) &&
                                  mbedtls_mpi_write_binary(&public_key->N, modulus,
                                                           sizeof(modulus)) == 0;
                if (read && modulus[0] >= min_top_byte) {
                    public_key->len = kBlockSize;
                    generated_public = pub;
                    generated_private = priv;
                    result = 0;
                    break;
                }
                // A rejected pair is deleted, so that only the kept one carries the name.
                if (!destroy_pair(pub, priv, why)) break;
                if (watcher != nullptr && !watcher(watcher_state, *attempts)) {
                    result = kTokenStopped;
                    break;
                }
            }
            if (result == -1 && why->empty()) {
                *why = "no modulus with a top byte of at least " + std::to_string(min_top_byte) +
                       " in " + std::to_string(*attempts) + " pairs";
            }
        }
    }
    p11_kit_uri_free(uri);
    return result;
}

int delete_generated_key(std::string* why) {
    if (generated_private == CK_INVALID_HANDLE) return 0;
    const bool deleted = destroy_pair(generated_public, generated_private, why);
    generated_public = generated_private = CK_INVALID_HANDLE;
    return deleted ? 0 : -1;
}

namespace {

std::string read_text_attribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) {
    unsigned char bytes[256];
    CK_ATTRIBUTE attribute = {type, bytes, sizeof(bytes)};
    if (module->C_GetAttributeValue(session, object, &attribute, 1) != CKR_OK ||
        attribute.ulValueLen == CK_UNAVAILABLE_INFORMATION) {
        return "";
    }
    return std::string(reinterpret_cast<const char*>(bytes), attribute.ulValueLen);
}

std::string hex_text(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const char c : bytes) {
        text += kDigits[static_cast<unsigned char>(c) >> 4];
        text += kDigits[static_cast<unsigned char>(c) & 15];
    }
    return text;
}

// Adds the RSA keys of one object class to keys, joining objects of one label and id.
void add_listed_keys(P11KitUri* uri, CK_OBJECT_CLASS object_class,
                     std::vector<TokenKeyInfo>* keys) {
    CK_KEY_TYPE rsa = CKK_RSA;
    std::vector<CK_ATTRIBUTE> search = uri_search(uri, &object_class);
    search.push_back({CKA_KEY_TYPE, &rsa, sizeof(rsa)});
    for (const CK_OBJECT_HANDLE object : find_matching(module, session, search, 4096)) {
        const std::string label = read_text_attribute(object, CKA_LABEL);
        const std::string id = hex_text(read_text_attribute(object, CKA_ID));
        TokenKeyInfo* key = nullptr;
        for (TokenKeyInfo& known : *keys) {
            if (known.label == label && known.id == id) key = &known;
        }
        if (key == nullptr) {
            keys->push_back(TokenKeyInfo());
            key = &keys->back();
            key->label = label;
            key->id = id;
        }
        (object_class == CKO_PRIVATE_KEY ? key->has_private : key->has_public) = true;
        mbedtls_mpi n;
        mbedtls_mpi_init(&n);
        if (key->bits == 0 && read_mpi_attribute(object, CKA_MODULUS, &n)) {
            key->bits = static_cast<unsigned>(mbedtls_mpi_bitlen(&n));
            unsigned char bytes[1024];
            const size_t size = mbedtls_mpi_size(&n);
            if (size <= sizeof(bytes) && mbedtls_mpi_write_binary(&n, bytes, size) == 0) {
                key->top_byte = bytes[0];
            }
        }
        mbedtls_mpi_free(&n);
    }
}

}  // namespace

int list_token_keys(const char* text, std::string* token_label, std::vector<TokenKeyInfo>* keys,
                    std::string* why) {
    P11KitUri* uri = parse_uri(text, why);
    if (uri == nullptr) return kTokenBadUri;
    TokenSlot token;
    int result = -1;
    if (open_session(uri, &token, false, why)) {
        *token_label = token.label;
        add_listed_keys(uri, CKO_PRIVATE_KEY, keys);
        add_listed_keys(uri, CKO_PUBLIC_KEY, keys);
        result = 0;
    }
    p11_kit_uri_free(uri);
    return result;
}

void close_token() {
    if (module != nullptr && session != CK_INVALID_HANDLE) {
        if (logged_in) module->C_Logout(session);
        module->C_CloseSession(session);
    }
    session = CK_INVALID_HANDLE;
    private_key = CK_INVALID_HANDLE;
    generated_public = generated_private = CK_INVALID_HANDLE;
    logged_in = false;
    module = nullptr;
    if (path_module != nullptr) {
        p11_kit_module_finalize(path_module);
        p11_kit_module_release(path_module);
        path_module = nullptr;
    }
    if (registered_modules != nullptr) {
        p11_kit_modules_finalize_and_release(registered_modules);
        registered_modules = nullptr;
    }
}
