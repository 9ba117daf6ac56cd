// A FUSE file system that passes everything through to a folder, except the
// one operation it is told to fail, as a failing disk or an NFS server
// without locks fails it:
//   fsync     fsync() of a file: EIO
//   flush     close() of a file opened for reading only: EIO
//   fsyncdir  fsync() of a folder: EIO
//   flock     flock(): ENOLCK
//   statfs    reports no size at all (0 blocks), as some network mounts do
//   fat32     refuses a file past 4 GiB less one byte (EFBIG), as FAT32 does
// Usage: faultyfs FOLDER MOUNTPOINT OPERATION; it returns once mounted.
#define FUSE_USE_VERSION 31

#include <fuse.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

std::string base;
std::string failing;

std::string real(const char *path)
{
    return base + path;
}

int result(int returned)
{
    return returned < 0 ? -errno : 0;
}

int handle(int fd, fuse_file_info *file)
{
    file->fh = uint64_t(fd);
    return fd < 0 ? -errno : 0;
}

int bytes(ssize_t count)
{
    return count < 0 ? -errno : int(count);
}

// FAT32 keeps a file's size in 32 bits.
bool pastFat32Limit(off_t end)
{
    return failing == "fat32" && end > off_t(0xFFFFFFFF);
}

int readdir(const char *path, void *buffer, fuse_fill_dir_t fill, off_t, fuse_file_info *, fuse_readdir_flags)
{
    DIR *dir = ::opendir(real(path).c_str());
    if (!dir)
        return -errno;
    while (const dirent *entry = ::readdir(dir))
        fill(buffer, entry->d_name, nullptr, 0, fuse_fill_dir_flags(0));
    ::closedir(dir);
    return 0;
}

int readlink(const char *path, char *buffer, size_t size)
{
    const ssize_t length = ::readlink(real(path).c_str(), buffer, size - 1);
    if (length < 0)
        return -errno;
    buffer[length] = '\0';
    return 0;
}

int statfs(const char *path, struct statvfs *info)
{
    const int returned = result(::statvfs(real(path).c_str(), info));
    if (returned == 0 && failing == "statfs")
        info->f_blocks = info->f_bfree = info->f_bavail = 0;
    return returned;
}

fuse_operations passthrough()
{
    fuse_operations o{};
    // The folder's own inode numbers, so that a name looked up twice is seen as one file.
    o.init = [](fuse_conn_info *, fuse_config *config) -> void * {
        config->use_ino = 1;
        return nullptr;
    };
    o.getattr = [](const char *p, struct stat *info, fuse_file_info *) {
        return result(::lstat(real(p).c_str(), info));
    };
    o.readdir = readdir;
    o.mkdir = [](const char *p, mode_t mode) { return result(::mkdir(real(p).c_str(), mode)); };
    o.rmdir = [](const char *p) { return result(::rmdir(real(p).c_str())); };
    o.unlink = [](const char *p) { return result(::unlink(real(p).c_str())); };
    o.symlink = [](const char *target, const char *p) { return result(::symlink(target, real(p).c_str())); };
    o.readlink = readlink;
    o.rename = [](const char *from, const char *to, unsigned int flags) {
        return result(::renameat2(AT_FDCWD, real(from).c_str(), AT_FDCWD, real(to).c_str(), flags));
    };
    o.link = [](const char *from, const char *to) { return result(::link(real(from).c_str(), real(to).c_str())); };
    o.chmod = [](const char *p, mode_t mode, fuse_file_info *) { return result(::chmod(real(p).c_str(), mode)); };
    o.chown = [](const char *p, uid_t user, gid_t group, fuse_file_info *) {
        return result(::lchown(real(p).c_str(), user, group));
    };
    o.truncate = [](const char *p, off_t size, fuse_file_info *) {
        return pastFat32Limit(size) ? -EFBIG : result(::truncate(real(p).c_str(), size));
    };
    o.utimens = [](const char *p, const timespec times[2], fuse_file_info *) {
        return result(::utimensat(AT_FDCWD, real(p).c_str(), times, AT_SYMLINK_NOFOLLOW));
    };
    o.open = [](const char *p, fuse_file_info *file) { return handle(::open(real(p).c_str(), file->flags), file); };
    o.create = [](const char *p, mode_t mode, fuse_file_info *file) {
        return handle(::open(real(p).c_str(), file->flags, mode), file);
    };
    o.read = [](const char *, char *buffer, size_t size, off_t offset, fuse_file_info *file) {
        return bytes(::pread(int(file->fh), buffer, size, offset));
    };
    o.write = [](const char *, const char *buffer, size_t size, off_t offset, fuse_file_info *file) {
        return pastFat32Limit(offset + off_t(size)) ? -EFBIG : bytes(::pwrite(int(file->fh), buffer, size, offset));
    };
    o.statfs = statfs;
    o.flush = [](const char *, fuse_file_info *file) {
        return failing == "flush" && (file->flags & O_ACCMODE) == O_RDONLY ? -EIO : 0;
    };
    o.release = [](const char *, fuse_file_info *file) {
        ::close(int(file->fh));
        return 0;
    };
    o.fsync = [](const char *, int, fuse_file_info *file) {
        return failing == "fsync" ? -EIO : result(::fsync(int(file->fh)));
    };
    o.fsyncdir = [](const char *, int, fuse_file_info *) { return failing == "fsyncdir" ? -EIO : 0; };
    o.flock = [](const char *, fuse_file_info *file, int operation) {
        return failing == "flock" ? -ENOLCK : result(::flock(int(file->fh), operation));
    };
    return o;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s FOLDER MOUNTPOINT OPERATION\n", argv[0]);
        return 2;
    }
    base = argv[1];
    failing = argv[3];
    const fuse_operations operations = passthrough();
    char *arguments[] = {argv[0], argv[2], const_cast<char *>("-s")};
    return fuse_main(3, arguments, &operations, nullptr);
}
