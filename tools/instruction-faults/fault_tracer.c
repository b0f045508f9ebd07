// SPDX-License-Identifier: Apache-2.0
// Runs one command under ptrace to fault, count or search what its instructions do: the helper
// of tools/instruction-fault-check.sh and tests/key_remnants_test.sh. x86-64 Linux only.
//
//   fault_tracer [--timeout SECONDS] [--out FILE] [--arm ADDR[:NTH]]... [--until ADDR] MODE --
//                COMMAND [ARG...]
//
// An ADDR is an instruction's address as objdump shows it in the command's executable; the load
// base of a position-independent executable is added from /proc/PID/maps. Hits are counted
// from the NTH execution of the instruction at --arm (that one included), so that a count means
// the same thing in a profile and in a fault. Arms chain: each counts from the one before, so
// that the millionth execution of a loop is reached as the 40th in the 25000th call of its
// function, without stopping the command a million times. MODE is one of
//   --profile FILE        count the executions of each instruction listed in FILE, a line
//                         "ADDR [ANCHOR]" each, by int3 breakpoints, and write a line
//                         "ADDR K:COUNT..." for each that ran: COUNT executions after the Kth of
//                         the instruction at ANCHOR (K is 0 without one, or before its first);
//                         with --until, up to the first execution of ADDR after the arm point
//   --skip ADDR:NTH:LEN   at the NTH execution of the instruction at ADDR, LEN bytes long, go on
//                         at ADDR+LEN without executing it
//   --flip ADDR:NTH:REG:BIT
//                         at that point, before it executes, flip bit BIT of REG: one of the
//                         general-purpose registers but RSP (rax ... r15); RIP and RSP are left
//                         alone, their faults crash the command and say nothing of its checks
//   --scan-at-exit FILE   when the command exits, search its writable memory, its general
//                         registers and its vector registers (the whole AVX-512 state where the
//                         processor has it) for each needle of FILE ("LABEL HEX" a line, at
//                         least 8 bytes each) and write "found LABEL in PLACE" for each find
// The command's standard streams are its own. This tool writes its results to FILE of --out
// (standard error by default): the profile, or for a fault "applied" or "not-reached", and then
// "exit N", "signal N" or "timeout". Its exit status is the command's: 128+N for signal N, 124
// after the timeout (default 10 s), 125 when tracing itself failed.
#define _GNU_SOURCE
#include <cpuid.h>
#include <elf.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ptrace.h>
#include <sys/uio.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>

#if !defined(__x86_64__) || !defined(__linux__)
#error "fault_tracer knows only x86-64 Linux"
#endif

enum mode { kNone, kProfile, kSkip, kFlip, kScan };

struct breakpoint {
    uint64_t addr;  // run-time address
    uint8_t orig;   // the instruction's first byte, under the int3
    int inserted, is_target;
    uint64_t hits;                    // target executions counted since the arm point
    uint64_t anchor;                  // the address whose hits group these, or 0
    uint64_t (*groups)[2], groups_n;  // {anchor hits, own hits} in order, for --profile
};

static pid_t child;
static FILE* out;
static volatile sig_atomic_t timed_out;
static struct breakpoint* bps;
static size_t bp_count;
static uint64_t base;  // where the executable is loaded: 0 unless position-independent
enum { kMaxArms = 4 };
static uint64_t arm_at[kMaxArms], arm_nth[kMaxArms];
static int arm_count;

static void die(const char* what) {
    fprintf(stderr, "fault_tracer: %s: %s\n", what, strerror(errno));
    if (child > 0) kill(child, SIGKILL);
    exit(125);
}

static void on_alarm(int sig) {
    (void)sig;
    timed_out = 1;
}

static uint64_t parse_hex(const char* text, char** end) {
    errno = 0;
    const uint64_t v = strtoull(text, end, 16);
    if (errno != 0 || *end == text) {
        fprintf(stderr, "fault_tracer: not a hexadecimal number: %s\n", text);
        exit(125);
    }
    return v;
}

static int by_addr(const void* a, const void* b) {
    const uint64_t x = ((const struct breakpoint*)a)->addr, y = ((const struct breakpoint*)b)->addr;
    return x < y ? -1 : x > y;
}

static struct breakpoint* find_bp(uint64_t addr) {
    struct breakpoint key = {.addr = addr};
    return bsearch(&key, bps, bp_count, sizeof(*bps), by_addr);
}

// Adds a breakpoint (relative address) or marks the one already there.
static void add_bp(uint64_t rel, int is_target, uint64_t anchor) {
    for (size_t i = 0; i < bp_count; ++i) {
        if (bps[i].addr == rel) {
            bps[i].is_target |= is_target;
            if (anchor != 0) bps[i].anchor = anchor;
            return;
        }
    }
    bps = realloc(bps, (bp_count + 1) * sizeof(*bps));
    if (bps == NULL) die("realloc");
    bps[bp_count++] = (struct breakpoint){.addr = rel, .is_target = is_target, .anchor = anchor};
}

static void poke_byte(uint64_t addr, uint8_t byte, uint8_t* old) {
    errno = 0;
    const long word = ptrace(PTRACE_PEEKTEXT, child, (void*)addr, NULL);
    if (errno != 0) die("PTRACE_PEEKTEXT");
    if (old != NULL) *old = (uint8_t)word;
    const long next = (long)(((unsigned long)word & ~0xFFUL) | byte);
    if (ptrace(PTRACE_POKETEXT, child, (void*)addr, (void*)next) != 0) die("PTRACE_POKETEXT");
}

static void insert(struct breakpoint* b) {
    if (!b->inserted) poke_byte(b->addr, 0xCC, &b->orig);
    b->inserted = 1;
}

static void lift(struct breakpoint* b) {
    if (b->inserted) poke_byte(b->addr, b->orig, NULL);
    b->inserted = 0;
}

// Waits for the child; kills it once the timeout has passed.
static int wait_child(int* status) {
    for (;;) {
        if (timed_out) kill(child, SIGKILL);
        if (waitpid(child, status, __WALL) == child) return 0;
        if (errno != EINTR) die("waitpid");
        if (timed_out) kill(child, SIGKILL);
    }
}

// The load base of the executable, from /proc/PID/maps at the exec stop.
static void find_base(void) {
    char path[64], exe[4096], line[4608];
    snprintf(path, sizeof(path), "/proc/%d/exe", child);
    const ssize_t n = readlink(path, exe, sizeof(exe) - 1);
    if (n < 0) die("readlink /proc/PID/exe");
    exe[n] = 0;
    int fd = open(exe, O_RDONLY);
    Elf64_Ehdr eh;
    if (fd < 0 || read(fd, &eh, sizeof(eh)) != (ssize_t)sizeof(eh)) die("reading the ELF header");
    close(fd);
    snprintf(path, sizeof(path), "/proc/%d/maps", child);
    FILE* maps = fopen(path, "r");
    if (maps == NULL) die("/proc/PID/maps");
    int first = 1;
    while (fgets(line, sizeof(line), maps) != NULL) {
        unsigned long lo, hi, offset;
        char name[4096] = "";
        if (sscanf(line, "%lx-%lx %*s %lx %*s %*s %4095s", &lo, &hi, &offset, name) < 3) continue;
        if (strcmp(name, exe) != 0) continue;
        // A fixed-address executable is mapped where objdump says; a PIE at its base.
        if (first) base = eh.e_type == ET_DYN ? lo - offset : 0;
        first = 0;
    }
    fclose(maps);
    if (first) {
        fprintf(stderr, "fault_tracer: %s is not in the child's mappings\n", exe);
        kill(child, SIGKILL);
        exit(125);
    }
}

static uint64_t* reg_named(struct user_regs_struct* r, const char* name) {
    static const struct {
        const char* name;
        size_t offset;
    } names[] = {{"rax", offsetof(struct user_regs_struct, rax)},
                 {"rbx", offsetof(struct user_regs_struct, rbx)},
                 {"rcx", offsetof(struct user_regs_struct, rcx)},
                 {"rdx", offsetof(struct user_regs_struct, rdx)},
                 {"rsi", offsetof(struct user_regs_struct, rsi)},
                 {"rdi", offsetof(struct user_regs_struct, rdi)},
                 {"rbp", offsetof(struct user_regs_struct, rbp)},
                 {"r8", offsetof(struct user_regs_struct, r8)},
                 {"r9", offsetof(struct user_regs_struct, r9)},
                 {"r10", offsetof(struct user_regs_struct, r10)},
                 {"r11", offsetof(struct user_regs_struct, r11)},
                 {"r12", offsetof(struct user_regs_struct, r12)},
                 {"r13", offsetof(struct user_regs_struct, r13)},
                 {"r14", offsetof(struct user_regs_struct, r14)},
                 {"r15", offsetof(struct user_regs_struct, r15)}};
    for (size_t i = 0; i < sizeof(names) / sizeof(names[0]); ++i) {
        if (strcmp(names[i].name, name) == 0) return (uint64_t*)((char*)r + names[i].offset);
    }
    return NULL;
}

// ---- the memory and register scan ----

struct needle {
    char label[64];
    uint8_t bytes[256];
    size_t len;
    uint64_t key;  // the first 8 bytes, for the sorted look-up
};
static struct needle* needles;
static size_t needle_count;
static unsigned long finds;

static int by_key(const void* a, const void* b) {
    const uint64_t x = ((const struct needle*)a)->key, y = ((const struct needle*)b)->key;
    return x < y ? -1 : x > y;
}

static void read_needles(const char* path) {
    FILE* f = fopen(path, "r");
    if (f == NULL) die(path);
    char label[64], hex[600];
    while (fscanf(f, "%63s %599s", label, hex) == 2) {
        needles = realloc(needles, (needle_count + 1) * sizeof(*needles));
        if (needles == NULL) die("realloc");
        struct needle* nd = &needles[needle_count];
        memset(nd, 0, sizeof(*nd));
        snprintf(nd->label, sizeof(nd->label), "%s", label);
        for (nd->len = 0; hex[2 * nd->len] != 0 && hex[2 * nd->len + 1] != 0; ++nd->len) {
            if (sscanf(hex + 2 * nd->len, "%2hhx", &nd->bytes[nd->len]) != 1) break;
        }
        if (nd->len < 8) continue;  // shorter needles would be found by chance
        memcpy(&nd->key, nd->bytes, 8);
        ++needle_count;
    }
    fclose(f);
    qsort(needles, needle_count, sizeof(*needles), by_key);
}

// Reports each needle that occurs in data starting before starts, at any byte offset (shown
// from offset0 on).
static void search_from(const uint8_t* data, size_t size, size_t starts, const char* place,
                        size_t offset0) {
    for (size_t at = 0; at < starts && at + 8 <= size; ++at) {
        uint64_t key;
        memcpy(&key, data + at, 8);
        struct needle probe = {.key = key};
        struct needle* hit = bsearch(&probe, needles, needle_count, sizeof(*needles), by_key);
        if (hit == NULL) continue;
        while (hit > needles && hit[-1].key == key) --hit;
        for (; hit < needles + needle_count && hit->key == key; ++hit) {
            if (at + hit->len <= size && memcmp(data + at, hit->bytes, hit->len) == 0) {
                fprintf(out, "found %s in %s+0x%zx\n", hit->label, place, offset0 + at);
                ++finds;
            }
        }
    }
}

static void search(const uint8_t* data, size_t size, const char* place) {
    search_from(data, size, size, place, 0);
}

// Every writable mapping, read a MiB at a time; a mapping of more than a GiB is reserved room
// (a sanitizer's shadow) rather than memory the command wrote, and is only named.
static void scan_memory(void) {
    enum { kChunk = 1 << 20, kOverlap = 255 };  // a needle found across two chunks is found once
    static uint8_t chunk[kChunk + kOverlap];
    char path[64], line[4608];
    snprintf(path, sizeof(path), "/proc/%d/maps", child);
    FILE* maps = fopen(path, "r");
    snprintf(path, sizeof(path), "/proc/%d/mem", child);
    int mem = open(path, O_RDONLY);
    if (maps == NULL || mem < 0) die("/proc/PID/maps or mem");
    while (fgets(line, sizeof(line), maps) != NULL) {
        unsigned long lo, hi;
        char perms[8], name[4096] = "anonymous";
        if (sscanf(line, "%lx-%lx %7s %*s %*s %*s %4095s", &lo, &hi, perms, name) < 3) continue;
        if (perms[0] != 'r' || perms[1] != 'w') continue;
        const char* place = strrchr(name, '/') ? strrchr(name, '/') + 1 : name;
        if (hi - lo > (1UL << 30)) {
            fprintf(out, "skipped %s, %lu MiB\n", place, (hi - lo) >> 20);
            continue;
        }
        for (unsigned long from = lo; from < hi; from += kChunk) {
            const size_t want = hi - from < sizeof(chunk) ? hi - from : sizeof(chunk);
            const ssize_t got = pread(mem, chunk, want, (off_t)from);
            if (got <= 0) break;
            search_from(chunk, (size_t)got, kChunk, place, from - lo);
        }
    }
    close(mem);
    fclose(maps);
}

// The vector registers whole: in the standard XSAVE layout that ptrace gives, a ZMM register's
// low 128 bits, next 128 and upper 256 are three separate areas; a needle may cross them.
static void scan_registers(void) {
    struct user_regs_struct regs;
    if (ptrace(PTRACE_GETREGS, child, NULL, &regs) != 0) die("PTRACE_GETREGS");
    search((const uint8_t*)&regs, sizeof(regs), "general registers");
    static uint8_t xs[1 << 16];
    struct iovec iov = {xs, sizeof(xs)};
    if (ptrace(PTRACE_GETREGSET, child, (void*)NT_X86_XSTATE, &iov) != 0) die("NT_X86_XSTATE");
    unsigned a, off[8] = {0}, c, d;
    for (unsigned i = 2; i < 8; ++i) __get_cpuid_count(0xD, i, &a, &off[i], &c, &d);
    const size_t len = iov.iov_len;
    search(xs, 160, "x87 state");
    for (unsigned r = 0; r < 32; ++r) {
        uint8_t z[64] = {0};
        if (r < 16) {
            if (160 + 16 * r + 16 <= len) memcpy(z, xs + 160 + 16 * r, 16);
            if (off[2] != 0 && off[2] + 16 * r + 16 <= len)
                memcpy(z + 16, xs + off[2] + 16 * r, 16);
            if (off[6] != 0 && off[6] + 32 * r + 32 <= len)
                memcpy(z + 32, xs + off[6] + 32 * r, 32);
        } else if (off[7] != 0 && off[7] + 64 * (r - 16) + 64 <= len) {
            memcpy(z, xs + off[7] + 64 * (r - 16), 64);
        }
        char place[16];
        snprintf(place, sizeof(place), "zmm%u", r);
        search(z, sizeof(z), place);
    }
    if (off[5] != 0 && off[5] + 64 <= len) search(xs + off[5], 64, "opmask registers");
}

// ---- the run ----

static void usage(void) {
    fprintf(stderr,
            "usage: fault_tracer [--timeout S] [--out FILE] [--arm ADDR[:NTH]]... [--until ADDR]"
            " --profile FILE | --skip ADDR:NTH:LEN | --flip ADDR:NTH:REG:BIT |"
            " --scan-at-exit FILE -- COMMAND [ARG...]\n");
    exit(125);
}

int main(int argc, char** argv) {
    enum mode mode = kNone;
    unsigned timeout = 10;
    uint64_t at = 0, nth = 0, len = 0, until = 0;
    unsigned bit = 0;
    const char *reg = NULL, *file = NULL, *out_path = NULL;
    int i = 1;
    char* end;
    for (; i < argc && strcmp(argv[i], "--") != 0; ++i) {
        const char* opt = argv[i];
        const char* val = i + 1 < argc ? argv[i + 1] : NULL;
        if (val == NULL) usage();
        ++i;
        if (strcmp(opt, "--timeout") == 0) {
            timeout = (unsigned)strtoul(val, NULL, 10);
        } else if (strcmp(opt, "--out") == 0) {
            out_path = val;
        } else if (strcmp(opt, "--arm") == 0) {
            if (arm_count == kMaxArms) usage();
            arm_at[arm_count] = parse_hex(val, &end);
            arm_nth[arm_count] = *end == ':' ? strtoull(end + 1, NULL, 10) : 1;
            if (arm_nth[arm_count++] == 0) usage();
        } else if (strcmp(opt, "--until") == 0) {
            until = parse_hex(val, &end);
        } else if (strcmp(opt, "--profile") == 0 || strcmp(opt, "--scan-at-exit") == 0) {
            mode = opt[2] == 'p' ? kProfile : kScan;
            file = val;
        } else if (strcmp(opt, "--skip") == 0 || strcmp(opt, "--flip") == 0) {
            mode = opt[2] == 's' ? kSkip : kFlip;
            at = parse_hex(val, &end);
            if (*end != ':') usage();
            nth = strtoull(end + 1, &end, 10);
            if (*end != ':' || nth == 0) usage();
            if (mode == kSkip) {
                len = strtoull(end + 1, NULL, 10);
            } else {
                char* colon = strchr(end + 1, ':');
                if (colon == NULL) usage();
                *colon = 0;
                reg = end + 1;
                bit = (unsigned)strtoul(colon + 1, NULL, 10);
                struct user_regs_struct probe;
                if (reg_named(&probe, reg) == NULL || bit > 63) usage();
            }
        } else {
            usage();
        }
    }
    if (mode == kNone || i + 1 >= argc) usage();
    char** command = argv + i + 1;
    out = out_path != NULL ? fopen(out_path, "w") : stderr;
    if (out == NULL) die(out_path);

    // The breakpoints, by relative address until the base is known.
    for (int k = 0; k < arm_count; ++k) add_bp(arm_at[k], 0, 0);
    if (mode == kSkip || mode == kFlip) add_bp(at, 1, 0);
    if (until != 0) add_bp(until, 0, 0);
    if (mode == kProfile) {
        FILE* f = fopen(file, "r");
        if (f == NULL) die(file);
        char line[64];
        while (fgets(line, sizeof(line), f) != NULL) {
            const uint64_t a = parse_hex(line, &end);
            const uint64_t anchor = strtoull(end, NULL, 16);
            add_bp(a, 1, anchor);
            if (anchor != 0) add_bp(anchor, 1, 0);
        }
        fclose(f);
    }
    if (mode == kScan) read_needles(file);

    child = fork();
    if (child < 0) die("fork");
    if (child == 0) {
        ptrace(PTRACE_TRACEME, 0, NULL, NULL);
        execvp(command[0], command);
        _exit(127);
    }
    struct sigaction sa;
    memset(&sa, 0, sizeof(sa));
    sa.sa_handler = on_alarm;  // no SA_RESTART: waitpid returns EINTR
    sigaction(SIGALRM, &sa, NULL);
    alarm(timeout);

    int status;
    wait_child(&status);
    if (!WIFSTOPPED(status)) {
        fprintf(out, "the command did not start\n");
        return 125;
    }
    long options = PTRACE_O_EXITKILL | (mode == kScan ? PTRACE_O_TRACEEXIT : 0);
    if (ptrace(PTRACE_SETOPTIONS, child, NULL, (void*)options) != 0) die("PTRACE_SETOPTIONS");
    find_base();
    for (size_t k = 0; k < bp_count; ++k) {
        bps[k].addr += base;
        if (bps[k].anchor != 0) bps[k].anchor += base;
    }
    qsort(bps, bp_count, sizeof(*bps), by_addr);
    at += base;
    until += until != 0 ? base : 0;
    for (int k = 0; k < arm_count; ++k) arm_at[k] += base;
    int stage = 0, armed = arm_count == 0;
    if (armed) {
        for (size_t k = 0; k < bp_count; ++k) insert(&bps[k]);
    } else {
        insert(find_bp(arm_at[0]));
    }

    uint64_t arm_hits = 0;
    int applied = 0, deliver = 0;
    for (;;) {
        if (ptrace(PTRACE_CONT, child, NULL, (void*)(long)deliver) != 0) die("PTRACE_CONT");
        deliver = 0;
        wait_child(&status);
        if (WIFEXITED(status) || WIFSIGNALED(status)) break;
        if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
            scan_memory();
            scan_registers();
            continue;
        }
        if (WSTOPSIG(status) != SIGTRAP) {
            deliver = WSTOPSIG(status);
            continue;
        }
        struct user_regs_struct regs;
        if (ptrace(PTRACE_GETREGS, child, NULL, &regs) != 0) die("PTRACE_GETREGS");
        struct breakpoint* b = find_bp(regs.rip - 1);
        if (b == NULL || !b->inserted) {
            deliver = SIGTRAP;  // not ours
            continue;
        }
        regs.rip = b->addr;
        // The hit that completes one arm is the first that the next one, or the targets, count.
        int just_armed = 0;
        while (!armed && b->addr == arm_at[stage] && ++arm_hits == arm_nth[stage]) {
            arm_hits = 0;
            armed = just_armed = ++stage == arm_count;
            if (!armed) insert(find_bp(arm_at[stage]));
        }
        for (size_t k = 0; just_armed && k < bp_count; ++k) {
            if ((bps[k].is_target || bps[k].addr == until) && &bps[k] != b) insert(&bps[k]);
        }
        if (armed && b->addr == until) {
            // Counting ends here: the command runs on free of breakpoints.
            for (size_t k = 0; k < bp_count; ++k) {
                lift(&bps[k]);
                if (&bps[k] != b) bps[k].is_target = 0;
            }
            b->is_target = 0;
        }
        int skip = 0;
        if (armed && b->is_target) {
            ++b->hits;
            if (mode == kProfile) {
                const struct breakpoint* anchor = b->anchor ? find_bp(b->anchor) : NULL;
                const uint64_t k = anchor ? anchor->hits : 0;
                if (b->groups_n == 0 || b->groups[b->groups_n - 1][0] != k) {
                    b->groups = realloc(b->groups, (b->groups_n + 1) * sizeof(*b->groups));
                    if (b->groups == NULL) die("realloc");
                    b->groups[b->groups_n][0] = k;
                    b->groups[b->groups_n++][1] = 0;
                }
                ++b->groups[b->groups_n - 1][1];
            }
            if ((mode == kSkip || mode == kFlip) && b->addr == at && b->hits == nth && !applied) {
                applied = 1;
                b->is_target = 0;
                if (mode == kSkip) {
                    regs.rip = b->addr + len;
                    skip = 1;
                } else {
                    *reg_named(&regs, reg) ^= 1ULL << bit;
                }
            }
        }
        if (ptrace(PTRACE_SETREGS, child, NULL, &regs) != 0) die("PTRACE_SETREGS");
        const int keep = (armed && b->is_target) || (!armed && b->addr == arm_at[stage]);
        lift(b);
        if (skip || !keep) continue;
        // Execute the original instruction, then put the breakpoint back.
        if (ptrace(PTRACE_SINGLESTEP, child, NULL, NULL) != 0) die("PTRACE_SINGLESTEP");
        wait_child(&status);
        if (WIFEXITED(status) || WIFSIGNALED(status)) break;
        if (WSTOPSIG(status) != SIGTRAP) deliver = WSTOPSIG(status);
        insert(b);
    }

    if (mode == kProfile) {
        for (size_t k = 0; k < bp_count; ++k) {
            if (bps[k].hits == 0) continue;
            fprintf(out, "%lx", bps[k].addr - base);
            for (uint64_t g = 0; g < bps[k].groups_n; ++g) {
                fprintf(out, " %lu:%lu", bps[k].groups[g][0], bps[k].groups[g][1]);
            }
            fprintf(out, "\n");
        }
    } else if (mode == kSkip || mode == kFlip) {
        fprintf(out, "%s\n", applied ? "applied" : "not-reached");
    } else if (mode == kScan) {
        fprintf(out, "%lu finds among %zu needles\n", finds, needle_count);
    }
    int code;
    if (timed_out) {
        fprintf(out, "timeout\n");
        code = 124;
    } else if (WIFEXITED(status)) {
        fprintf(out, "exit %d\n", WEXITSTATUS(status));
        code = WEXITSTATUS(status);
    } else {
        fprintf(out, "signal %d\n", WTERMSIG(status));
        code = 128 + WTERMSIG(status);
    }
    if (out != stderr) fclose(out);
    return code;
}
