// A fake xdg-open first on PATH while the object lives: it records the
// arguments it is given, each ended by a NUL (which no argument can hold).
#pragma once

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <optional>

#include "support/event_loop.h"

namespace velmora::testing {

class FakeXdgOpen {
public:
    FakeXdgOpen() : oldPath_(qgetenv("PATH")) {
        QFile script(bin_.filePath(QStringLiteral("xdg-open")));
        const QByteArray log = QFile::encodeName(logPath());
        if (script.open(QIODevice::WriteOnly))  // the log appears whole, by a rename
            script.write("#!/bin/sh\nprintf '%s\\0' \"$@\" > '" + log + ".tmp' && mv '" + log + ".tmp' '" + log + "'\n");
        script.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
        qputenv("PATH", QFile::encodeName(bin_.path()) + ":" + oldPath_);
    }
    ~FakeXdgOpen() { qputenv("PATH", oldPath_); }

    // What the run was given, once it ran; nothing if it did not within `ms`.
    std::optional<QStringList> arguments(int ms = 10000) const {
        QFile f(logPath());
        if (!waitUntil([&] { return f.exists(); }, ms) || !f.open(QIODevice::ReadOnly)) return std::nullopt;
        QStringList args;
        for (const QByteArray& a : f.readAll().split('\0')) args << QString::fromUtf8(a);
        args.removeLast();  // what follows the last NUL
        return args;
    }

private:
    QString logPath() const { return bin_.filePath(QStringLiteral("args")); }

    QTemporaryDir bin_;
    QByteArray oldPath_;
};

}  // namespace velmora::testing
