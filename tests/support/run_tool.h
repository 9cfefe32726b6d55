#pragma once
// Runs a command-line tool to its end while this thread's event loop keeps serving (the tool
// may talk to a server living in the test itself). Header-only: only the Qt tests include it.
#include <QProcess>
#include <QSignalSpy>
#include <QString>
#include <QStringList>

namespace ubin::test {

struct ToolRun {
    int status = -1; // -1 when the tool crashed or did not end in time
    QString out;
    QString err;
};

inline ToolRun RunTool(const QString& program, const QStringList& args, int timeoutMs = 20000)
{
    QProcess p;
    QSignalSpy finished(&p, &QProcess::finished);
    p.start(program, args);
    ToolRun r;
    if (!finished.wait(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

} // namespace ubin::test
