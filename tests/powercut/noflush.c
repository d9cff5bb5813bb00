/* A fault for checking the power-cut stage itself: with this library
 * preloaded (ORVANE_POWERCUT_FAULT=noflush) no program flushes anything to
 * the disk, so the update and the deferred copy rename files whose data may
 * still be in memory only. The stage must then find broken files. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <unistd.h>

int fsync(int fd) { (void)fd; return 0; }
int fdatasync(int fd) { (void)fd; return 0; }
int syncfs(int fd) { (void)fd; return 0; }
void sync(void) {}
int sync_file_range(int fd, off64_t offset, off64_t nbytes, unsigned int flags)
{
    (void)fd; (void)offset; (void)nbytes; (void)flags;
    return 0;
}
