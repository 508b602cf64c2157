#pragma once

// A process table of a machine with an AMD GPU, for pictures only: the Ollama runner, a
// PyTorch notebook and a browser each hold the GPU's memory through amdgpu's DRM client
// records, laid out as /proc and /sys lay them out, in a temporary folder. The AI hardware
// page's per-process card is pictured at work with it; this machine has no GPU, and the app
// itself only ever reads the real /proc.

#include "processes/ProcessMonitor.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>

class SampleGpuMachine
{
public:
    SampleGpuMachine()
    {
        write("sys/class/drm/renderD128/device/power/runtime_status", "active\n");
        process(4242, "ollama", 91'000, "/usr/local/bin/ollama", 7'958'528);   // KiB of VRAM
        process(5151, "python3", 12'000, "/usr/bin/python3.11", 2'203'648);
        process(6161, "firefox", 30'500, "/usr/lib/firefox/firefox", 317'440);
        process(7070, "gnome-shell", 8'000, "/usr/bin/gnome-shell", 142'336);
    }

    std::unique_ptr<ProcessMonitor> monitor() const
    {
        ProcessSources sources;
        sources.procRoot = QFile::encodeName(m_dir.filePath(QStringLiteral("proc"))).toStdString();
        sources.sysRoot = QFile::encodeName(m_dir.filePath(QStringLiteral("sys"))).toStdString();
        return std::make_unique<ProcessMonitor>(ProcessMonitor::Figure{}, sources, ProcessMonitor::Polling::Manual);
    }

private:
    void write(const QString &path, const QByteArray &text) const
    {
        const QString full = m_dir.filePath(path);
        QDir().mkpath(QFileInfo(full).path());
        QFile file(full);
        if (file.open(QIODevice::WriteOnly))
            file.write(text);
    }
    void process(int pid, const QByteArray &comm, quint64 ticks, const QString &exe, quint64 vramKiB) const
    {
        const QString at = QStringLiteral("proc/%1/").arg(pid);
        write(at + QStringLiteral("stat"), QByteArray::number(pid) + " (" + comm + ") S 1 1 1 0 -1 0 0 0 0 0 "
                  + QByteArray::number(ticks) + " 0 0 0 20 0 1 0 100 0 " + QByteArray::number(pid / 10) + " 0\n");
        write(at + QStringLiteral("fdinfo/7"), "drm-driver:\tamdgpu\ndrm-pdev:\t0000:03:00.0\ndrm-client-id:\t"
                  + QByteArray::number(pid) + "\ndrm-memory-vram:\t" + QByteArray::number(vramKiB)
                  + " KiB\ndrm-memory-gtt:\t20480 KiB\ndrm-engine-gfx:\t1000000 ns\n");
        QDir().mkpath(m_dir.filePath(at + QStringLiteral("fd")));
        QFile::link(QStringLiteral("/dev/dri/renderD128"), m_dir.filePath(at + QStringLiteral("fd/7")));
        QFile::link(exe, m_dir.filePath(at + QStringLiteral("exe")));
    }

    QTemporaryDir m_dir;
};
