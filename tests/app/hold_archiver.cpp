// Keeps the archiver busy, as another program in the middle of an archive command would, until
// it is killed: it holds the user's lock that the archiver library takes for a command (in the
// suite's own lock folder, $UNLHA32_LOCK_DIR).
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

int main() {
    const char *folder = std::getenv("UNLHA32_LOCK_DIR");
    if (!folder || !*folder)
        return 1;
    ::mkdir(folder, 0700);
    const std::string path = std::string(folder) + "/unlha32.lock";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0)
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;)
        ::pause();
}
