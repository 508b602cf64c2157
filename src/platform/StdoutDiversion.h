#pragma once

#include <QByteArray>

// While it lives, whatever the process prints to standard output goes to standard error
// instead, and only write() reaches the real standard output. A program whose output is
// read by another (a status bar reading one JSON object, say) keeps its services' log
// lines out of it this way.
class StdoutDiversion
{
public:
    StdoutDiversion();
    ~StdoutDiversion();
    StdoutDiversion(const StdoutDiversion &) = delete;
    StdoutDiversion &operator=(const StdoutDiversion &) = delete;

    // Writes all of `bytes` to the real standard output; false when it could not.
    bool write(const QByteArray &bytes) const;

private:
    int m_stdout = -1;
};
