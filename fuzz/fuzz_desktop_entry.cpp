// A freedesktop .desktop file, as found under <dataDir>/applications, and the icon
// lookups made over the index it went into.
#include "FuzzInput.h"

#include "platform/DesktopEntryIndex.h"

#include <QFileInfo>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    DesktopEntryIndex index;
    index.addEntry(QStringLiteral("org.example.Fuzz.desktop"), FuzzInput::bytes(data, size));
    // The names an entry is matched by: its Exec program, its window class, its icon and
    // its file name.
    for (const char *program : {"/usr/bin/fuzz", "/opt/fuzz/bin/Fuzz", "firefox", "org.example.Fuzz"})
        (void)index.iconFor(QString::fromLatin1(program), QFileInfo(QString::fromLatin1(program)).fileName());
    return 0;
}
