// Keeps the archiver busy, as another program in the middle of an archive command would, until
// it is killed: it holds the machine-wide lock that the archiver library takes for a command.
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

int main() {
    const int fd = ::open("/tmp/unlha32.lock", O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0)
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;)
        ::pause();
}
