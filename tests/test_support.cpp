// SPDX-License-Identifier: Apache-2.0
#include "tests/test_support.hpp"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

Bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    ASSERT_TRUE(out.good()) << path;
}

void write_text(const std::string& path, const std::string& text) {
    write_file(path, Bytes(text.begin(), text.end()));
}

bool make_device(const std::string& path, unsigned major, unsigned minor) {
    return mknod(path.c_str(), S_IFCHR | 0666, makedev(major, minor)) == 0;
}

bool file_exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

static std::string drain(int fd) {
    std::string text;
    char chunk[4096];
    for (;;) {
        const ssize_t n = read(fd, chunk, sizeof(chunk));
        if (n <= 0) break;
        text.append(chunk, static_cast<size_t>(n));
    }
    return text;
}

std::string capture_stdout(const std::function<void()>& fn) {
    fflush(stdout);
    FILE* sink = tmpfile();
    const int saved = dup(STDOUT_FILENO);
    dup2(fileno(sink), STDOUT_FILENO);
    fn();
    fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    lseek(fileno(sink), 0, SEEK_SET);
    std::string text = drain(fileno(sink));
    fclose(sink);
    return text;
}

ToolRun run_tool(const std::string& dir, const std::vector<std::string>& args,
                 const std::string* stdin_data, int run_as_uid) {
    return run_program(BOOTSEAL_EXE, dir, args, stdin_data, run_as_uid);
}

ToolRun run_program(const char* program, const std::string& dir,
                    const std::vector<std::string>& args, const std::string* stdin_data,
                    int run_as_uid) {
    int out_fds[2];
    char error_template[] = "/tmp/bootseal-stderr-XXXXXX";
    const int error_fd = mkstemp(error_template);
    unlink(error_template);
    int in_fds[2] = {-1, -1};
    if (pipe(out_fds) != 0) return {-1, "", ""};
    if (stdin_data != nullptr && pipe(in_fds) != 0) return {-1, "", ""};

    std::vector<std::string> words;
    const char* wrapper = getenv("BOOTSEAL_TEST_WRAPPER");
    if (wrapper != nullptr) {
        std::istringstream split(wrapper);
        for (std::string word; split >> word;) words.push_back(word);
    }
    const size_t program_word = words.size();  // after the wrapper's words
    words.push_back(program);
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out_fds[1], STDOUT_FILENO);
        if (error_fd >= 0) dup2(error_fd, STDERR_FILENO);
        close(out_fds[0]);
        close(out_fds[1]);
        if (stdin_data != nullptr) {
            dup2(in_fds[0], STDIN_FILENO);
            close(in_fds[0]);
            close(in_fds[1]);
        } else {
            const int null_fd = open("/dev/null", O_RDONLY);
            dup2(null_fd, STDIN_FILENO);
        }
        if (run_as_uid >= 0) {
            // The built tool may lie under a folder the other user cannot enter (a checkout in
            // root's home, a private temporary folder), so it is opened while still root and run
            // from that descriptor: by fexecve, or through /proc/self/fd by a wrapper.
            const int program_fd = open(program, O_RDONLY);
            if (program_fd < 0) _exit(127);
            const auto id = static_cast<uid_t>(run_as_uid);
            if (setgroups(0, nullptr) != 0 || setgid(id) != 0 || setuid(id) != 0) _exit(126);
            if (chdir(dir.c_str()) != 0) _exit(127);
            if (wrapper == nullptr) {
                fexecve(program_fd, argv.data(), environ);
                _exit(127);
            }
            // Changing the user made /proc/self root's; being dumpable gives it back.
            prctl(PR_SET_DUMPABLE, 1);
            std::string by_fd = "/proc/self/fd/" + std::to_string(program_fd);
            argv[program_word] = by_fd.data();
            execvp(argv[0], argv.data());
            _exit(127);
        }
        if (chdir(dir.c_str()) != 0) _exit(127);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(out_fds[1]);
    if (stdin_data != nullptr) {
        close(in_fds[0]);
        // The tool may stop reading early; a broken pipe here is not the test's concern.
        signal(SIGPIPE, SIG_IGN);
        size_t done = 0;
        while (done < stdin_data->size()) {
            const ssize_t n = write(in_fds[1], stdin_data->data() + done, stdin_data->size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        close(in_fds[1]);
    }
    ToolRun run{-1, drain(out_fds[0]), ""};
    close(out_fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
    if (error_fd >= 0) {
        lseek(error_fd, 0, SEEK_SET);
        run.errors = drain(error_fd);
        close(error_fd);
    }
    return run;
}

std::string shell_output(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return "";
    std::string text = drain(fileno(pipe));
    pclose(pipe);
    return text;
}

void put_u32(Bytes& image, size_t pos, uint32_t value) {
    for (int i = 0; i < 4; ++i) image[pos + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}

Bytes make_loader(size_t tag_offset, size_t size) {
    Bytes image(size, 0);
    image[tag_offset] = 0x55;
    image[tag_offset + 1] = 0xAA;
    return image;
}

std::string hex(const uint8_t* data, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 0xF];
    }
    return text;
}

uint32_t rom_sum(const Bytes& image, size_t from, size_t to) {
    uint32_t sum = 0;
    for (size_t i = from; i + 1 < to; i += 2) {
        sum += static_cast<uint32_t>(image[i] | image[i + 1] << 8) + static_cast<uint32_t>((i - from) / 2);
    }
    return sum;
}

void TempDirTest::SetUp() {
    char pattern[] = "/tmp/bootseal-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
}

void TempDirTest::TearDown() {
    std::error_code ignored;
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(dir_, ignored);
}

void InTempDirTest::SetUp() {
    TempDirTest::SetUp();
    char buffer[4096];
    ASSERT_NE(getcwd(buffer, sizeof(buffer)), nullptr);
    old_dir_ = buffer;
    ASSERT_EQ(chdir(dir_.c_str()), 0);
}

void InTempDirTest::TearDown() {
    EXPECT_EQ(chdir(old_dir_.c_str()), 0);
    TempDirTest::TearDown();
}
