// bootseal-keygen: makes the key files that bootseal reads.
#include <getopt.h>
#include <mbedtls/bignum.h>
#include <mbedtls/ctr_drbg.h>
#include <mbedtls/entropy.h>
#include <mbedtls/platform_util.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

#include "image/file_replace.hpp"
#include "keygen/rsa_keygen.hpp"
#include "secure/key_files.hpp"

namespace {

// A replaced key file is kept under its name with this suffix: a lost release key cannot be
// made again.
const char kBackupSuffix[] = ".old";

const char kUsage[] =
    "Usage: bootseal-keygen [--dir DIR] [--aes] [--force]\n"
    "\n"
    "Writes a new 1024-bit RSA key pair for bootseal: rsa_priv.txt (N, D, P, Q, DP, DQ, QP;\n"
    "readable by its owner only) and rsa_pub.txt (N and E = 65537). The modulus starts with the\n"
    "byte 0xFF, so that nearly every image can be signed.\n"
    "\n"
    "  --dir DIR   write the files into DIR (default: the working directory)\n"
    "  --aes       also write aes.txt with a random AES-128 key\n"
    "  --force     replace key files that already exist, keeping each as FILE.old\n"
    "  --help      show this help and exit\n"
    "  --version   show the version and exit\n"
    "\n"
    "Exit status: 0 when the files were written, 1 when they were not, 2 for a usage error.\n";

int usage_error(const char* message) {
    fprintf(stderr, "bootseal-keygen: %s\nTry 'bootseal-keygen --help' for more information.\n",
            message);
    return 2;
}

// A key file waiting to be put in place with the others.
struct KeyFile {
    std::string path;
    std::string text;
    unsigned mode;
    bool kept;  // the file it replaced was kept as path + kBackupSuffix
};

// Writes and flushes every key file first and only then puts them all in place; a replaced
// file is kept as PATH.old. If any step fails, every file is as it was before the run.
bool write_key_set(KeyFile* keys, size_t count) {
    StagedFile staged[3];
    for (size_t i = 0; i < count; ++i) {
        const WriteResult result = stage_file(
            &staged[i], keys[i].path.c_str(), reinterpret_cast<const uint8_t*>(keys[i].text.data()),
            keys[i].text.size(), keys[i].mode, FileMode::kExact);
        if (result != WriteResult::kWritten) {
            fprintf(stderr, "bootseal-keygen: cannot write '%s': %s; nothing written\n",
                    keys[i].path.c_str(), strerror(staged[i].error));
            abandon_files(staged, i);
            return false;
        }
    }
    size_t failed = 0;
    if (!commit_files(staged, count, kBackupSuffix, &failed)) {
        fprintf(stderr,
                "bootseal-keygen: cannot put '%s' in place: %s; the key files are as they were\n",
                keys[failed].path.c_str(), strerror(staged[failed].error));
        return false;
    }
    for (size_t i = 0; i < count; ++i) keys[i].kept = !staged[i].backup_path.empty();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    static const option kOptions[] = {{"dir", required_argument, nullptr, 'd'},
                                      {"aes", no_argument, nullptr, 'a'},
                                      {"force", no_argument, nullptr, 'f'},
                                      {"help", no_argument, nullptr, 'h'},
                                      {"version", no_argument, nullptr, 'v'},
                                      {nullptr, 0, nullptr, 0}};
    std::string dir = ".";
    bool with_aes = false, force = false;
    opterr = 0;
    for (;;) {
        const int option = getopt_long(argc, argv, "", kOptions, nullptr);
        if (option == -1) break;
        switch (option) {
            case 'd':
                dir = optarg;
                break;
            case 'a':
                with_aes = true;
                break;
            case 'f':
                force = true;
                break;
            case 'h':
                fputs(kUsage, stdout);
                return 0;
            case 'v':
                printf("bootseal-keygen %s\n", BOOTSEAL_VERSION);
                return 0;
            default:
                return usage_error("unknown or incomplete option");
        }
    }
    if (optind != argc) return usage_error("takes no arguments besides options");

    const std::string priv_path = dir + "/rsa_priv.txt";
    const std::string pub_path = dir + "/rsa_pub.txt";
    const std::string aes_path = dir + "/aes.txt";
    for (const std::string& path : {priv_path, pub_path, aes_path}) {
        if (path == aes_path && !with_aes) continue;
        if (access(path.c_str(), F_OK) != 0) continue;
        if (!force) {
            fprintf(stderr,
                    "bootseal-keygen: '%s' exists; nothing written (use --force to replace it)\n",
                    path.c_str());
            return 1;
        }
        const std::string backup = path + kBackupSuffix;
        if (access(backup.c_str(), F_OK) == 0) {
            fprintf(stderr,
                    "bootseal-keygen: '%s' holds a key replaced earlier; nothing written (move it "
                    "away first)\n",
                    backup.c_str());
            return 1;
        }
    }

    mbedtls_entropy_context entropy;
    mbedtls_ctr_drbg_context drbg;
    mbedtls_entropy_init(&entropy);
    mbedtls_ctr_drbg_init(&drbg);
    RsaKeyContext key;
    rsa_key_init(&key);
    const char personal[] = "bootseal-keygen";
    int result = mbedtls_ctr_drbg_seed(&drbg, mbedtls_entropy_func, &entropy,
                                       reinterpret_cast<const unsigned char*>(personal),
                                       sizeof(personal) - 1);
    if (result == 0) result = generate_rsa_key(&key, mbedtls_ctr_drbg_random, &drbg);
    unsigned char aes_key[16] = {0};
    if (result == 0 && with_aes) result = mbedtls_ctr_drbg_random(&drbg, aes_key, sizeof(aes_key));

    int status = 0;
    if (result != 0) {
        fprintf(stderr, "bootseal-keygen: key generation failed (%d)\n", result);
        status = 1;
    } else {
        KeyFile keys[3] = {{priv_path, format_rsa_private(key), 0600, false},
                           {pub_path, format_rsa_public(key), 0644, false},
                           {aes_path, std::string(), 0600, false}};
        if (with_aes) {
            char pair[3];
            for (unsigned char byte : aes_key) {
                snprintf(pair, sizeof(pair), "%02x", byte);
                keys[2].text += pair;
            }
            keys[2].text += "\n";
        }
        const bool ok = write_key_set(keys, with_aes ? 3 : 2);
        for (KeyFile& file : keys) {
            if (!file.text.empty()) mbedtls_platform_zeroize(&file.text[0], file.text.size());
        }
        if (ok) {
            printf("wrote %s (mode 0600)\nwrote %s\n", priv_path.c_str(), pub_path.c_str());
            if (with_aes) printf("wrote %s (mode 0600)\n", aes_path.c_str());
            for (const KeyFile& file : keys) {
                if (file.kept) {
                    printf("kept the replaced %s as %s%s\n", file.path.c_str(),
                           file.path.c_str(), kBackupSuffix);
                }
            }
            printf("modulus: %u bits, top byte 0xFF, E = 65537\n",
                   static_cast<unsigned>(mbedtls_mpi_bitlen(&key.N)));
        } else {
            status = 1;
        }
    }
    mbedtls_platform_zeroize(aes_key, sizeof(aes_key));
    rsa_key_free(&key);
    mbedtls_ctr_drbg_free(&drbg);
    mbedtls_entropy_free(&entropy);
    return status;
}
