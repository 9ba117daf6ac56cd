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

namespace passthrough {

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

void *init(fuse_conn_info *, fuse_config *config)
{
    // The folder's own inode numbers, so that a name looked up twice is seen as one file.
    config->use_ino = 1;
    return nullptr;
}

int getattr(const char *path, struct stat *info, fuse_file_info *)
{
    return result(::lstat(real(path).c_str(), info));
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

int mkdir(const char *path, mode_t mode)
{
    return result(::mkdir(real(path).c_str(), mode));
}

int rmdir(const char *path)
{
    return result(::rmdir(real(path).c_str()));
}

int unlink(const char *path)
{
    return result(::unlink(real(path).c_str()));
}

int symlink(const char *target, const char *path)
{
    return result(::symlink(target, real(path).c_str()));
}

int readlink(const char *path, char *buffer, size_t size)
{
    const ssize_t length = ::readlink(real(path).c_str(), buffer, size - 1);
    if (length < 0)
        return -errno;
    buffer[length] = '\0';
    return 0;
}

int rename(const char *from, const char *to, unsigned int flags)
{
    return result(::renameat2(AT_FDCWD, real(from).c_str(), AT_FDCWD, real(to).c_str(), flags));
}

int link(const char *from, const char *to)
{
    return result(::link(real(from).c_str(), real(to).c_str()));
}

int chmod(const char *path, mode_t mode, fuse_file_info *)
{
    return result(::chmod(real(path).c_str(), mode));
}

int chown(const char *path, uid_t user, gid_t group, fuse_file_info *)
{
    return result(::lchown(real(path).c_str(), user, group));
}

// FAT32 keeps a file's size in 32 bits.
bool pastFat32Limit(off_t end)
{
    return failing == "fat32" && end > off_t(0xFFFFFFFF);
}

int truncate(const char *path, off_t size, fuse_file_info *)
{
    if (pastFat32Limit(size))
        return -EFBIG;
    return result(::truncate(real(path).c_str(), size));
}

int utimens(const char *path, const timespec times[2], fuse_file_info *)
{
    return result(::utimensat(AT_FDCWD, real(path).c_str(), times, AT_SYMLINK_NOFOLLOW));
}

int open(const char *path, fuse_file_info *file)
{
    const int fd = ::open(real(path).c_str(), file->flags);
    if (fd < 0)
        return -errno;
    file->fh = uint64_t(fd);
    return 0;
}

int create(const char *path, mode_t mode, fuse_file_info *file)
{
    const int fd = ::open(real(path).c_str(), file->flags, mode);
    if (fd < 0)
        return -errno;
    file->fh = uint64_t(fd);
    return 0;
}

int read(const char *, char *buffer, size_t size, off_t offset, fuse_file_info *file)
{
    const ssize_t got = ::pread(int(file->fh), buffer, size, offset);
    return got < 0 ? -errno : int(got);
}

int write(const char *, const char *buffer, size_t size, off_t offset, fuse_file_info *file)
{
    if (pastFat32Limit(offset + off_t(size)))
        return -EFBIG;
    const ssize_t written = ::pwrite(int(file->fh), buffer, size, offset);
    return written < 0 ? -errno : int(written);
}

int statfs(const char *path, struct statvfs *info)
{
    const int returned = result(::statvfs(real(path).c_str(), info));
    if (returned == 0 && failing == "statfs")
        info->f_blocks = info->f_bfree = info->f_bavail = 0;
    return returned;
}

int flush(const char *, fuse_file_info *file)
{
    return failing == "flush" && (file->flags & O_ACCMODE) == O_RDONLY ? -EIO : 0;
}

int release(const char *, fuse_file_info *file)
{
    ::close(int(file->fh));
    return 0;
}

int fsync(const char *, int, fuse_file_info *file)
{
    return failing == "fsync" ? -EIO : result(::fsync(int(file->fh)));
}

int fsyncdir(const char *, int, fuse_file_info *)
{
    return failing == "fsyncdir" ? -EIO : 0;
}

int flock(const char *, fuse_file_info *file, int operation)
{
    return failing == "flock" ? -ENOLCK : result(::flock(int(file->fh), operation));
}

} // namespace passthrough

int main(int argc, char *argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s FOLDER MOUNTPOINT OPERATION\n", argv[0]);
        return 2;
    }
    passthrough::base = argv[1];
    passthrough::failing = argv[3];
    fuse_operations operations{};
    operations.init = passthrough::init;
    operations.getattr = passthrough::getattr;
    operations.readdir = passthrough::readdir;
    operations.mkdir = passthrough::mkdir;
    operations.rmdir = passthrough::rmdir;
    operations.unlink = passthrough::unlink;
    operations.symlink = passthrough::symlink;
    operations.readlink = passthrough::readlink;
    operations.rename = passthrough::rename;
    operations.link = passthrough::link;
    operations.chmod = passthrough::chmod;
    operations.chown = passthrough::chown;
    operations.truncate = passthrough::truncate;
    operations.utimens = passthrough::utimens;
    operations.open = passthrough::open;
    operations.create = passthrough::create;
    operations.read = passthrough::read;
    operations.write = passthrough::write;
    operations.statfs = passthrough::statfs;
    operations.flush = passthrough::flush;
    operations.release = passthrough::release;
    operations.fsync = passthrough::fsync;
    operations.fsyncdir = passthrough::fsyncdir;
    operations.flock = passthrough::flock;
    char *arguments[] = {argv[0], argv[2], const_cast<char *>("-s")};
    return fuse_main(3, arguments, &operations, nullptr);
}
