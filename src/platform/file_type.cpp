#include "platform/file_type.h"

#include <sys/stat.h>

const char* fileTypeName(mode_t mode) {
    static const struct {
        mode_t type;
        const char* name;
    } names[] = {
        {S_IFREG, "a regular file"},     {S_IFDIR, "a directory"},    {S_IFIFO, "a FIFO"},
        {S_IFCHR, "a character device"}, {S_IFBLK, "a block device"}, {S_IFSOCK, "a socket"},
        {S_IFLNK, "a symbolic link"},
    };
    for (const auto& entry : names)
        if ((mode & S_IFMT) == entry.type)
            return entry.name;
    return "an unknown kind of file";
}
