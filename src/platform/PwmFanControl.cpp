#include "PwmFanControl.h"

#include "ProcFile.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

PwmFanControl::PwmFanControl(std::string sysRoot)
    : m_reader(std::move(sysRoot))
{
}

PwmFanControl::~PwmFanControl()
{
    release();
}

bool PwmFanControl::refresh()
{
    // The outputs of a forced state must stay known until they are restored.
    if (m_forced)
        return available();
    m_outputs.clear();
    for (const HwmonChip &chip : m_reader.chips())
        for (const HwmonPwm &pwm : chip.pwms)
            if (pwm.writable)
                m_outputs.push_back(pwm);
    return available();
}

bool PwmFanControl::writeFile(const std::string &path, const std::string &text)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return false;
    ssize_t n;
    do {
        n = ::write(fd, text.data(), text.size());
    } while (n < 0 && errno == EINTR);
    ::close(fd);
    return n == static_cast<ssize_t>(text.size());
}

bool PwmFanControl::force()
{
    if (m_forced)
        return true;
    m_saved.clear();
    std::string text;
    for (const HwmonPwm &pwm : m_outputs) {
        Saved saved{pwm, {}, {}};
        if (ProcFile::read(pwm.enable, text))
            saved.enable = std::string(ProcFile::trimmed(text));
        if (!ProcFile::read(pwm.duty, text))
            continue;
        saved.duty = std::string(ProcFile::trimmed(text));
        // Manual mode first: in automatic mode most drivers ignore a written duty.
        if (!saved.enable.empty() && !writeFile(pwm.enable, "1"))
            continue;
        if (!writeFile(pwm.duty, "255")) {
            if (!saved.enable.empty())
                writeFile(pwm.enable, saved.enable);
            continue;
        }
        m_saved.push_back(std::move(saved));
    }
    m_forced = !m_saved.empty();
    return m_forced;
}

void PwmFanControl::release()
{
    if (!m_forced)
        return;
    for (const Saved &saved : m_saved) {
        writeFile(saved.pwm.duty, saved.duty);
        if (!saved.enable.empty())
            writeFile(saved.pwm.enable, saved.enable);
    }
    m_saved.clear();
    m_forced = false;
}
