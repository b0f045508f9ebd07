#include "tests/test_support.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

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

ToolRun run_tool(const std::string& dir, const std::vector<std::string>& args) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) return {-1, ""};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipe_fds[1], STDOUT_FILENO);
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        const int null_fd = open("/dev/null", O_RDONLY);
        dup2(null_fd, STDIN_FILENO);
        if (chdir(dir.c_str()) != 0) _exit(127);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(BOOTSEAL_EXE));
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(BOOTSEAL_EXE, argv.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    ToolRun run{-1, drain(pipe_fds[0])};
    close(pipe_fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
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
