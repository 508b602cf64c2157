#pragma once

#include <QString>

// Starts an application's executable again, detached. Single-instance desktop programs
// (browsers, editors, chat clients) answer by raising the window they already have, which
// is the nearest Linux has to bringing a running application forward.
class ApplicationLauncher
{
public:
    // False when `path` is not an absolute path to an executable file, or it did not start.
    static bool open(const QString &path);
};
