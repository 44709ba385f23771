#include "cli_support.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <random>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace cli_test {
namespace fs = std::filesystem;

const char *const kKindNames[16] = {"none", "bmp", "cab", "jpg", "lzh", "mid", "png", "wav",
                                    "gca",  "ico", "tgz", "tbz", "mp3", "cur", "avi", "zip"};

TempDir::TempDir() : test_files::TempDir("tolvex-cli-test") {
    ::chmod(path().c_str(), 0777);
}

std::vector<std::string> listTree(const std::string &folder) {
    std::vector<std::string> names;
    for (const auto &entry : fs::recursive_directory_iterator(folder))
        names.push_back(fs::relative(entry.path(), folder).string());
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string nameOf(const std::string &assignment) {
    return assignment.substr(0, assignment.find('='));
}

} // namespace

RunResult runCli(const std::vector<std::string> &arguments, const RunOptions &options) {
    TempDir capture;
    const std::string outPath = capture / "out", errPath = capture / "err", inPath = capture / "in";
    if (options.standardInput)
        writeFile(inPath, *options.standardInput);

    std::vector<std::string> env;
    for (char **e = environ; *e; ++e) {
        const std::string name = nameOf(*e);
        if (name == "TOLVEX_KEY" || name == "SOURCE_DATE_EPOCH")
            continue;
        if (std::any_of(options.environment.begin(), options.environment.end(),
                        [&](const std::string &a) { return nameOf(a) == name; }))
            continue;
        env.push_back(*e);
    }
    env.insert(env.end(), options.environment.begin(), options.environment.end());

    const std::string program = options.program.empty() ? TOLVEX_CLI : options.program;
    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), arguments.begin(), arguments.end());
    std::vector<char *> argv, envp;
    for (auto &a : argStrings)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto &e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in = ::open(options.standardInput ? inPath.c_str() : "/dev/null", O_RDONLY);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0)
            ::_exit(126);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        if (!options.workingDirectory.empty() && ::chdir(options.workingDirectory.c_str()) != 0)
            ::_exit(126);
        if (options.fileSizeLimit) {
            // A write past the limit then fails with EFBIG instead of killing the program.
            ::signal(SIGXFSZ, options.limitKills ? SIG_DFL : SIG_IGN);
            const struct rlimit limit {
                rlim_t(*options.fileSizeLimit), rlim_t(*options.fileSizeLimit)
            };
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (options.user && (::setgroups(options.groups.size(), options.groups.data()) != 0 ||
                             ::setgid(*options.user) != 0 || ::setuid(*options.user) != 0))
            ::_exit(126);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    RunResult r;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = slurp(outPath);
    r.err = slurp(errPath);
    return r;
}

int32_t makeCode(const std::string &source, const std::string &outputBase, uint32_t key,
                 int32_t mode, int32_t kind) {
    using MakeCodeFunction =
        int32_t (*)(const char *, const char *, uint32_t, int32_t, int32_t, int32_t);
    static void *library = ::dlopen(TOLVEX_BIN_DIR "/libHalvet_Tolvex.so", RTLD_NOW);
    if (!library)
        throw std::runtime_error("cannot load the codec library");
    auto function = reinterpret_cast<MakeCodeFunction>(::dlsym(library, "MakeCode"));
    if (!function)
        throw std::runtime_error("no MakeCode");
    const fs::path before = fs::current_path();
    fs::current_path(TOLVEX_BIN_DIR);
    const int32_t result = function(source.c_str(), outputBase.c_str(), key, mode, kind, 1 << 20);
    fs::current_path(before);
    return result;
}

pid_t startCli(const std::string &folder, const std::vector<std::string> &arguments,
               const std::string &key) {
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(TOLVEX_CLI));
    for (const std::string &a : arguments)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        if (::chdir(folder.c_str()) != 0)
            ::_exit(126);
        ::setenv("TOLVEX_KEY", key.c_str(), 1);
        ::execv(TOLVEX_CLI, argv.data());
        ::_exit(127);
    }
    return pid;
}

TerminalRun::TerminalRun(const std::string &folder, const std::vector<std::string> &arguments,
                         const char *unsetVariable) {
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(TOLVEX_CLI));
    for (const std::string &a : arguments)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    m_pid = ::forkpty(&m_master, nullptr, nullptr, nullptr);
    if (m_pid == 0) {
        if (::chdir(folder.c_str()) != 0)
            ::_exit(126);
        ::unsetenv(unsetVariable);
        ::execv(TOLVEX_CLI, argv.data());
        ::_exit(127);
    }
}

TerminalRun::~TerminalRun() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    if (m_master >= 0)
        ::close(m_master);
}

bool TerminalRun::readUntil(const std::string &what) {
    char buffer[256];
    while (m_seen.find(what) == std::string::npos) {
        pollfd ready{m_master, POLLIN, 0};
        if (::poll(&ready, 1, 30000) <= 0)
            return false;
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        m_seen.append(buffer, size_t(n));
    }
    return true;
}

bool TerminalRun::type(const std::string &line) {
    const std::string typed = line + "\n";
    return ::write(m_master, typed.data(), typed.size()) == ssize_t(typed.size());
}

int TerminalRun::finish() {
    readUntil("\x04"); // never shown: reads to the end of the output
    int status = 0;
    if (m_pid <= 0 || ::waitpid(m_pid, &status, 0) != m_pid)
        return -1;
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool writingIn(pid_t pid, const std::string &folder) {
    std::error_code error;
    for (const auto &entry :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        if (target.rfind(folder + "/#", 0) == 0 || target.rfind(folder + "/.tolvex", 0) == 0)
            return true;
    }
    return false;
}

} // namespace cli_test
