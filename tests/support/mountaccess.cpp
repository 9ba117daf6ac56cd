#include "mountaccess.h"

#include <QFile>
#include <QProcess>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

struct Namespace
{
    bool own = false;
    int error = 0; // why it could not be entered
};

bool writeProcFile(const char *path, const std::string &text)
{
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
    ::close(fd);
    return written;
}

Namespace enterOwnNamespace()
{
    if (::geteuid() == 0)
        return {};
    const std::string uid = std::to_string(::geteuid());
    const std::string gid = std::to_string(::getegid());
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
        return {false, errno};
    // The same ids inside as outside, so that files still belong to this user.
    if (!writeProcFile("/proc/self/setgroups", "deny")
        || !writeProcFile("/proc/self/uid_map", uid + ' ' + uid + " 1\n")
        || !writeProcFile("/proc/self/gid_map", gid + ' ' + gid + " 1\n"))
        return {false, errno};
    // Only the right to mount: with all of the namespace's rights the test,
    // and the program code it runs in itself, would write through file modes.
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    data[CAP_TO_INDEX(CAP_SYS_ADMIN)].effective = CAP_TO_MASK(CAP_SYS_ADMIN);
    data[CAP_TO_INDEX(CAP_SYS_ADMIN)].permitted = CAP_TO_MASK(CAP_SYS_ADMIN);
    if (::syscall(SYS_capset, &header, data) != 0)
        return {false, errno};
    return {true, 0};
}

// Before main, while the process has one thread.
const Namespace entered = enterOwnNamespace();

// In a forked child before it runs the daemon: a capability of the namespace
// survives exec only as an ambient one, which must be inheritable first.
void grantMountRight()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return;
    data[CAP_TO_INDEX(CAP_SYS_ADMIN)].inheritable |= CAP_TO_MASK(CAP_SYS_ADMIN);
    if (::syscall(SYS_capset, &header, data) == 0)
        ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, CAP_SYS_ADMIN, 0, 0);
}

} // namespace

namespace mountaccess {

QString problem()
{
    if (::geteuid() == 0 || entered.own)
        return {};
    return QStringLiteral("the kernel refused a user and mount namespace of the test's own (%1)")
        .arg(QString::fromLocal8Bit(std::strerror(entered.error)));
}

QString fuseProblem()
{
    if (const QString refused = problem(); !refused.isEmpty())
        return refused;
    if (::access("/dev/fuse", R_OK | W_OK) != 0)
        return QStringLiteral("/dev/fuse is not open to this user (%1)")
            .arg(QString::fromLocal8Bit(std::strerror(errno)));
    return {};
}

bool mountTmpfs(const QString &path, const QString &options)
{
    return ::mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", 0,
                   options.toLatin1().constData()) == 0;
}

bool remountTmpfs(const QString &path, const QString &options)
{
    return ::mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", MS_REMOUNT,
                   options.toLatin1().constData()) == 0;
}

bool unmount(const QString &path)
{
    return ::umount2(QFile::encodeName(path).constData(), MNT_DETACH) == 0;
}

bool runMounter(const QString &program, const QStringList &arguments, const QString &point)
{
    QProcess process;
    if (entered.own)
        process.setChildProcessModifier(grantMountRight);
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0)
        return false;
    // Until its attributes are asked for, the new root shows no permission
    // bits, and a user without root's rights may not create in it.
    struct stat root;
    return ::stat(QFile::encodeName(point).constData(), &root) == 0;
}

} // namespace mountaccess
