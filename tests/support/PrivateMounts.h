#pragma once

#include <QString>

// Mounts seen by this test process alone (a private mount namespace, entered on first use), so a test
// can give a folder a read-only or a nearly full file system even as root, which ignores file modes.
// As root (CI) this always works; elsewhere it needs unprivileged user namespaces. The mounts vanish
// with the process; `unmount` undoes one sooner.
namespace PrivateMounts {
// Why mounts cannot be made here; empty when they can.
QString unavailableReason();
// A fresh tmpfs of `bytes` on `folder` (which must exist). False with the reason in `error`.
bool mountTmpfs(const QString& folder, qint64 bytes, QString* error);
// `folder` itself, read-only from now on.
bool bindReadOnly(const QString& folder, QString* error);
bool unmount(const QString& folder);
} // namespace PrivateMounts
