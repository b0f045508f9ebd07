// SPDX-License-Identifier: Apache-2.0
#include "keys/key_reader.hpp"

#include <mbedtls/platform_util.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "keys/key_bytes.hpp"
#include "keys/secret_text.hpp"
#include "platform/secret_file.hpp"
#include "rsa/secret_marks.hpp"

namespace {

// What fgets(buffer, 2483, ...) takes in mbedtls_mpi_read_file: its buffer is 2484 bytes.
constexpr size_t kLineRoom = 2482;
// The most bytes a value may have: a line's 2481 digits, and a DER integer no longer.
constexpr size_t kMaxValueBytes = (kLineRoom + 1) / 2;
// The dependency's bound on a modulus, MBEDTLS_MPI_MAX_SIZE.
constexpr size_t kMaxModulusBytes = 1024;
constexpr size_t kMinModulusBits = 128;

constexpr unsigned kInteger = 0x02;
constexpr unsigned kOctetString = 0x04;
constexpr unsigned kNull = 0x05;
constexpr unsigned kOid = 0x06;
constexpr unsigned kSequence = 0x30;
// 1.2.840.113549.1.1.1, rsaEncryption, as its DER contents.
const unsigned char kRsaEncryption[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};

enum DerForms : unsigned { kPkcs1 = 1, kPkcs8 = 2 };

// The part of a DER structure still to read.
struct Der {
    const unsigned char* p;
    const unsigned char* end;
};

size_t left(const Der& d) { return static_cast<size_t>(d.end - d.p); }

// The next tag, made public, or -1 at the end.
int peek_tag(const Der& d) {
    if (d.p == d.end) return -1;
    mark_public(d.p, 1);
    return *d.p;
}

// Reads a tag that must be tag and its length (both structure, made public); leaves d at the
// contents. Returns false when they are not there or the contents run past the end.
bool read_header(Der* d, unsigned tag, size_t* length) {
    if (left(*d) < 2) return false;
    mark_public(d->p, 2);
    if (d->p[0] != tag) return false;
    size_t n = d->p[1];
    d->p += 2;
    if (n >= 0x80) {
        const size_t bytes = n & 0x7F;
        if (bytes == 0 || bytes > 4 || left(*d) < bytes) return false;
        mark_public(d->p, bytes);
        n = 0;
        for (size_t i = 0; i < bytes; ++i) n = (n << 8) | *d->p++;
    }
    if (n > left(*d)) return false;
    *length = n;
    return true;
}

// The verdicts on a key's secret values, as masks: 1 for a value that is not zero, and for one
// that is odd. A DER integer's sign byte and any leading zeros are read like any other byte.
struct ValueShape {
    uint32_t nonzero;
    uint32_t odd;
};

// Reads an INTEGER into x (its sign ignored, as the dependency's mbedtls_asn1_get_mpi does) and
// the shape of its value. A public value's bytes are made public first.
bool read_integer(Der* d, mbedtls_mpi* x, bool is_public, ValueShape* shape) {
    size_t length = 0;
    if (!read_header(d, kInteger, &length) || length > kMaxValueBytes) return false;
    if (is_public) mark_public(d->p, length);
    uint32_t any = 0;
    for (size_t i = 0; i < length; ++i) any |= d->p[i];
    shape->nonzero = byte_equal_bit(any, 0) ^ 1;
    shape->odd = length > 0 ? d->p[length - 1] & 1u : 0;
    const bool read = mbedtls_mpi_read_binary(x, d->p, length) == 0;
    d->p += length;
    return read;
}

// A small public INTEGER (a version) whose value must be zero.
bool read_zero_version(Der* d) {
    size_t length = 0;
    if (!read_header(d, kInteger, &length) || length != 1) return false;
    mark_public(d->p, 1);
    return *d->p++ == 0;
}

// Reads the values of an RSAPrivateKey after its version and checks them as the dependency's
// parser did (its context check). Returns 0 or -1.
int read_rsa_values(Der* d, RsaKeyContext* key) {
    mbedtls_mpi* const secret[] = {&key->D, &key->P, &key->Q, &key->DP, &key->DQ, &key->QP};
    ValueShape shapes[6];
    ValueShape unused;
    if (!read_integer(d, &key->N, true, &unused) || !read_integer(d, &key->E, true, &unused)) {
        return -1;
    }
    for (size_t i = 0; i < 6; ++i) {
        if (!read_integer(d, secret[i], false, &shapes[i])) return -1;
    }
    if (d->p != d->end) return -1;
    // P and Q odd; D, P, Q, DP, DQ and QP not zero: a verdict only a broken key changes.
    uint32_t usable = shapes[1].odd & shapes[2].odd;
    for (const ValueShape& shape : shapes) usable &= shape.nonzero;
    mark_public(&usable, sizeof(usable));
    // The public values as the dependency's public key check held them: N odd, of 128 to 8192
    // bits; E odd, at least 3 and below N.
    const size_t n_bits = mbedtls_mpi_bitlen(&key->N);
    if (usable == 0 || mbedtls_mpi_get_bit(&key->N, 0) == 0 || n_bits < kMinModulusBits ||
        n_bits > 8 * kMaxModulusBytes || mbedtls_mpi_get_bit(&key->E, 0) == 0 ||
        mbedtls_mpi_bitlen(&key->E) < 2 || mbedtls_mpi_cmp_mpi(&key->E, &key->N) >= 0) {
        return -1;
    }
    key->len = (n_bits + 7) / 8;
    return 0;
}

// Reads a PKCS#1 RSAPrivateKey or a PKCS#8 PrivateKeyInfo of rsaEncryption, as forms allows.
int read_der(const unsigned char* der, size_t size, unsigned forms, RsaKeyContext* key) {
    Der d = {der, der + size};
    size_t length = 0;
    if (!read_header(&d, kSequence, &length)) return kNotPlainRsaKey;
    Der body = {d.p, d.p + length};
    if (peek_tag(body) != static_cast<int>(kInteger) || !read_zero_version(&body)) {
        return kNotPlainRsaKey;
    }
    const int next = peek_tag(body);
    if (next == static_cast<int>(kInteger)) {
        return (forms & kPkcs1) != 0 ? read_rsa_values(&body, key) : kNotPlainRsaKey;
    }
    if (next != static_cast<int>(kSequence) || (forms & kPkcs8) == 0) return kNotPlainRsaKey;
    // PrivateKeyInfo: the algorithm decides whose key it is.
    Der algorithm = body;
    if (!read_header(&algorithm, kSequence, &length)) return kNotPlainRsaKey;
    body.p = algorithm.p + length;
    algorithm.end = body.p;
    size_t oid_length = 0;
    if (!read_header(&algorithm, kOid, &oid_length)) return kNotPlainRsaKey;
    mark_public(algorithm.p, oid_length);
    if (oid_length != sizeof(kRsaEncryption) ||
        memcmp(algorithm.p, kRsaEncryption, sizeof(kRsaEncryption)) != 0) {
        return kNotPlainRsaKey;
    }
    algorithm.p += oid_length;
    // rsaEncryption's parameters are NULL or absent; what follows the key (attributes) is not
    // read, as the dependency did not read it.
    if (algorithm.p != algorithm.end &&
        (!read_header(&algorithm, kNull, &length) || length != 0 || algorithm.p != algorithm.end)) {
        return -1;
    }
    if (!read_header(&body, kOctetString, &length)) return -1;
    Der inner = {body.p, body.p + length};
    if (!read_header(&inner, kSequence, &length) || inner.p + length != inner.end) return -1;
    if (!read_zero_version(&inner)) return -1;
    return read_rsa_values(&inner, key);
}

// The length of the line starting at data (at most size bytes), its line feed included; only
// where the line feeds are is made public.
size_t line_length(const unsigned char* data, size_t size) {
    size_t n = 0;
    while (n < size && public_class(data[n], kLineFeed) == 0) ++n;
    return n < size ? n + 1 : n;
}

// Whether the line of size bytes at data is "-----" word label "-----" with only blanks and a
// line end after it; the line is armour, made public.
bool armour_line(const unsigned char* data, size_t size, const char* word, const char* label) {
    mark_public(data, size);
    const size_t word_size = strlen(word), label_size = strlen(label);
    const size_t core = 10 + word_size + label_size;
    if (size < core || memcmp(data, "-----", 5) != 0 || memcmp(data + 5, word, word_size) != 0 ||
        memcmp(data + 5 + word_size, label, label_size) != 0 ||
        memcmp(data + 5 + word_size + label_size, "-----", 5) != 0) {
        return false;
    }
    for (size_t i = core; i < size; ++i) {
        if (strchr(" \t\r\n", data[i]) == nullptr) return false;
    }
    return true;
}

// Decodes the base64 text of size bytes at text into out, setting *out_size. Blanks and line
// ends are skipped; padding may only end the text. Returns false on any other character.
bool decode_base64(const unsigned char* text, size_t size, unsigned char* out, size_t* out_size) {
    uint32_t accumulated = 0;
    size_t digits = 0, padding = 0, n = 0;
    for (size_t i = 0; i < size; ++i) {
        const uint32_t kind = public_class(text[i], kBase64Classes);
        if ((kind & kBase64Digit) != 0) {
            if (padding != 0) return false;
            uint32_t unused = 0;
            accumulated = (accumulated << 6) | base64_digit_value(text[i], &unused);
            if (++digits % 4 == 0) {
                out[n++] = static_cast<unsigned char>(accumulated >> 16);
                out[n++] = static_cast<unsigned char>(accumulated >> 8);
                out[n++] = static_cast<unsigned char>(accumulated);
                accumulated = 0;
            }
        } else if ((kind & kPadding) != 0) {
            ++padding;
        } else if ((kind & (kLineFeed | kCarriageReturn | kBlank)) == 0) {
            return false;
        }
    }
    if ((digits + padding) % 4 != 0 || padding > 2 || (padding > 0 && digits % 4 == 0)) {
        return false;
    }
    if (padding == 2) out[n++] = static_cast<unsigned char>(accumulated >> 4);
    if (padding == 1) {
        out[n++] = static_cast<unsigned char>(accumulated >> 10);
        out[n++] = static_cast<unsigned char>(accumulated >> 2);
    }
    accumulated = 0;
    *out_size = n;
    return true;
}

// What is wrong with a text key line (the classes of its characters; ended when a NUL cut it)
// whose value bootseal reads from first to end, or nullptr: the value must stand alone after
// its name's '=' (or alone on the line), with nothing after it but the line end.
const char* line_fault(const uint8_t* classes, bool ended, size_t first, size_t end) {
    if (ended) return "it holds a NUL byte, where bootseal stops reading the line";
    if (first == end) {
        return end > 0 && (classes[end - 1] & kBlank) != 0
                   ? "blanks follow its value, so bootseal reads no digits there: remove them"
                   : "it ends in no hexadecimal digits, so bootseal reads no value there";
    }
    size_t before = first;
    while (before > 0 && (classes[before - 1] & kBlank) != 0) --before;
    if (before == 0 || (classes[before - 1] & kPadding) != 0) return nullptr;
    return before == first || (classes[before - 1] & kHexDigit) == 0
               ? "a character that is not a hexadecimal digit stands among its digits or before "
                 "them, so bootseal reads only the digits after it"
               : "blanks stand among its digits, so bootseal reads only the digits after them";
}

// Whether the word of size bytes at data starts with '#', a comment of aes.txt.
bool comment_word(const unsigned char* data, size_t size) {
    return size > 0 && public_match(data, 1, "#");
}

}  // namespace

int read_key_file(const char* path, KeyFileBytes* file) {
    file->size = 0;
    file->too_large = false;
    // One byte more than is kept tells a file that goes on.
    const int read = read_secret_file(path, file->data, kMaxKeyFileSize + 1, &file->size);
    if (read == kSecretFileMissing) return kKeyFileMissing;
    const int error = errno;
    mark_secret(file->data, file->size);
    if (file->size > kMaxKeyFileSize) {
        file->too_large = true;
        file->size = kMaxKeyFileSize;
    }
    file->data[file->size] = 0;
    if (read != 0) {
        wipe_key_file(file);
        errno = error;
        return kKeyFileReadError;
    }
    return 0;
}

std::string key_file_failure(const char* path, int read) {
    if (read == kKeyFileMissing) return std::string("cannot open ") + path + ": " + strerror(errno);
    return std::string(path) + (read != 0 ? ": read error"
                                          : ": too large for a key file (more than " +
                                                std::to_string(kMaxKeyFileSize) + " bytes)");
}

void wipe_key_file(KeyFileBytes* file) {
    // Reading writes the first size bytes and the NUL after them (or the one byte past the
    // largest size, which is where the NUL goes); nothing else of the buffer holds the file.
    const size_t written = file->size < kMaxKeyFileSize ? file->size + 1 : sizeof(file->data);
    mbedtls_platform_zeroize(file->data, written);
    file->size = 0;
}

int read_text_values(const KeyFileBytes& file, mbedtls_mpi* const* values, size_t count,
                     size_t public_count, TextLineFault* fault) {
    unsigned char bytes[kMaxValueBytes];
    uint8_t classes[kLineRoom];
    size_t at = 0;
    int result = 0;
    for (size_t v = 0; v < count && result == 0; ++v) {
        if (at >= file.size) {
            result = MBEDTLS_ERR_MPI_FILE_IO_ERROR;
            break;
        }
        const unsigned char* line = file.data + at;
        size_t taken = 0, length = 0;
        bool ended = false;  // by a NUL: the rest of the line is not part of it
        while (at + taken < file.size && taken < kLineRoom) {
            const uint32_t kind = public_class(line[taken], kTextClasses);
            classes[taken++] = static_cast<uint8_t>(kind);
            ended = ended || (kind & kNul) != 0;
            if (!ended) ++length;
            if ((kind & kLineFeed) != 0) break;
        }
        at += taken;
        if (length == kLineRoom) {
            result = MBEDTLS_ERR_MPI_BUFFER_TOO_SMALL;
            break;
        }
        size_t end = length;
        if (end > 0 && (classes[end - 1] & kLineFeed) != 0) --end;
        if (end > 0 && (classes[end - 1] & kCarriageReturn) != 0) --end;
        size_t first = end;
        while (first > 0 && (classes[first - 1] & kHexDigit) != 0) --first;
        const char* what = line_fault(classes, ended, first, end);
        if (fault != nullptr && fault->line == 0 && what != nullptr) *fault = {v + 1, what};
        // The digits, most significant first, into bytes; an odd count leaves the first byte's
        // high half zero.
        const size_t digits = end - first;
        const size_t size = (digits + 1) / 2;
        memset(bytes, 0, size);
        for (size_t i = 0; i < digits; ++i) {
            uint32_t unused = 0;
            const uint32_t digit = hex_digit_value(line[first + i], &unused);
            const size_t place = digits - 1 - i;  // counted from the least significant digit
            bytes[size - 1 - place / 2] |= static_cast<unsigned char>(digit << (4 * (place % 2)));
        }
        if (v < public_count) mark_public(bytes, size);
        result = mbedtls_mpi_read_binary(values[v], bytes, size);
    }
    mbedtls_platform_zeroize(bytes, sizeof(bytes));
    return result;
}

int read_der_private_key(const unsigned char* der, size_t size, bool pkcs8, RsaKeyContext* key) {
    return read_der(der, size, pkcs8 ? kPkcs1 | kPkcs8 : kPkcs1, key);
}

int read_plain_private_key(const KeyFileBytes& file, unsigned char* work, RsaKeyContext* key) {
    const char* text = reinterpret_cast<const char*>(file.data);
    size_t start = 0;
    const KeyFileFormat format = key_bytes_format(text, file.size, &start);
    if (format == KeyFileFormat::kDer) return read_der(file.data, file.size, kPkcs1 | kPkcs8, key);
    if (format != KeyFileFormat::kPem) return kNotPlainRsaKey;
    const unsigned char* at = file.data + start;
    const unsigned char* end = file.data + file.size;
    size_t length = line_length(at, static_cast<size_t>(end - at));
    const char* label = nullptr;
    unsigned forms = 0;
    if (armour_line(at, length, "BEGIN ", "RSA PRIVATE KEY")) {
        label = "RSA PRIVATE KEY";
        forms = kPkcs1;
    } else if (armour_line(at, length, "BEGIN ", "PRIVATE KEY")) {
        label = "PRIVATE KEY";
        forms = kPkcs8;
    } else {
        return kNotPlainRsaKey;
    }
    at += length;
    const unsigned char* body = at;
    // A traditional encrypted key names its cipher in a header: the dependency decrypts it.
    static const char kEncrypted[] = "Proc-Type:";
    if (static_cast<size_t>(end - at) >= sizeof(kEncrypted) - 1 &&
        public_match(at, sizeof(kEncrypted) - 1, kEncrypted)) {
        return kNotPlainRsaKey;
    }
    static const char kFooter[] = "-----END ";
    while (at < end && !(static_cast<size_t>(end - at) >= sizeof(kFooter) - 1 &&
                         public_match(at, sizeof(kFooter) - 1, kFooter))) {
        at += line_length(at, static_cast<size_t>(end - at));
    }
    if (at == end ||
        !armour_line(at, line_length(at, static_cast<size_t>(end - at)), "END ", label)) {
        return -1;
    }
    size_t der_size = 0;
    if (!decode_base64(body, static_cast<size_t>(at - body), work, &der_size)) return -1;
    const int result = read_der(work, der_size, forms, key);
    return result;
}

int parse_aes_text(const KeyFileBytes& file, uint8_t key[16]) {
    // The mark is three bytes no key or comment starts with: the verdict on them is public.
    if (file.size >= 3 && public_match(file.data, 3, "\xEF\xBB\xBF")) return kAesByteOrderMark;
    size_t at = 0, start = 0, size = 0;
    do {
        while (at < file.size && public_class(file.data[at], kSpaceClasses) != 0) ++at;
        start = at;
        while (at < file.size && public_class(file.data[at], kSpaceClasses) == 0) ++at;
        size = at - start;
    } while (comment_word(file.data + start, size));
    if (size != 2 * 16) return kAesNoKey;
    // Whether all 32 are digits is one verdict, which only a broken file changes.
    uint32_t digits = 1;
    for (size_t i = 0; i < 16; ++i) {
        uint32_t high = 0, low = 0;
        const uint32_t value = hex_digit_value(file.data[start + 2 * i], &high) << 4 |
                               hex_digit_value(file.data[start + 2 * i + 1], &low);
        digits &= high & low;
        key[i] = static_cast<uint8_t>(value);
    }
    mark_public(&digits, sizeof(digits));
    // A word that is no key leaves none of its bytes behind as one.
    if (digits == 0) mbedtls_platform_zeroize(key, 16);
    return digits != 0 ? 0 : kAesNoKey;
}

int read_secret_line(const char* path, char* line, size_t room, std::string* why) {
    KeyFileBytes file;
    const int read = read_key_file(path, &file);
    size_t length = 0;
    while (length < file.size && public_class(file.data[length], kLineFeed) == 0) ++length;
    if (length > 0 && public_class(file.data[length - 1], kCarriageReturn) != 0) --length;
    const bool fits = length < room;
    if (read == 0 && !file.too_large && fits) {
        memcpy(line, file.data, length);
        line[length] = '\0';
    }
    wipe_key_file(&file);
    if (read == kKeyFileMissing) {
        *why = strerror(errno);
        return kSecretLineMissing;
    }
    if (read == kKeyFileReadError) {
        *why = "read error";
    } else if (file.too_large) {
        *why = "larger than " + std::to_string(kMaxKeyFileSize) + " bytes, the most it may hold";
    } else if (!fits) {
        *why = "its first line is longer than " + std::to_string(room - 1) + " bytes";
    } else {
        return static_cast<int>(length);
    }
    return kSecretLineRefused;
}
