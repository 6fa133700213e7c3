// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFile>
#include <QString>

#include <cstring>

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

// While it lives, the root user's right to ignore file permissions is put aside (in this
// thread, which is where the file is written), so permission tests mean the same for every user.
class PermissionsEnforced
{
public:
    PermissionsEnforced()
    {
        syscall(SYS_capget, &header, saved);
        __user_cap_data_struct reduced[2];
        std::memcpy(reduced, saved, sizeof reduced);
        const unsigned overrides =
            (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER);
        reduced[0].effective &= ~overrides;
        syscall(SYS_capset, &header, reduced);
    }
    ~PermissionsEnforced() { syscall(SYS_capset, &header, saved); }
    PermissionsEnforced(const PermissionsEnforced &) = delete;
    PermissionsEnforced &operator=(const PermissionsEnforced &) = delete;

private:
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved[2]{};
};

// Whether a file can be made in folder right now (tried with the system's own call, then removed).
inline bool canCreateFileIn(const QString &folder)
{
    const QByteArray probe = QFile::encodeName(folder + "/probe");
    const int fd = ::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0)
        return false;
    ::close(fd);
    ::unlink(probe.constData());
    return true;
}
