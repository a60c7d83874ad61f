// Registration of the reader with the desktop for the current user: a desktop
// entry, its icon, the policy package's MIME type, and a place in the list of
// programs offered for PDF files without taking the default from the user's
// own choice.
#pragma once

#include <QString>
#include <QStringList>

namespace qalv {

// The application icon: the windows show it and registration installs it for
// the desktop under the name qalv-quv-reader.
inline constexpr char kReaderIconResource[] = ":/res/app/quv-reader.svg";

enum class RegistrationSwitch { None, Register, Unregister };

// The registration switch among `arguments` (the command line after the
// program name): "/" or "-" (also "--") and, in any letter case, Register,
// Regserver, RegisterPerUser, RegserverPerUser, or their Unregister and
// Unregserver forms. When several are given, the last one counts; anything
// else, "Embedding" and "Automation" included, is no switch.
RegistrationSwitch ParseRegistrationSwitch(const QStringList& arguments);

// Installs, under $XDG_DATA_HOME and $XDG_CONFIG_HOME (by default
// ~/.local/share and ~/.config), the desktop entry that runs
// `executablePath`, its icon and the package MIME type, and adds the entry to
// mimeapps.list's [Added Associations] for PDF and package files; then
// refreshes the desktop's MIME and application caches where their tools are
// installed. Registering again changes nothing. 0, or -1 when a file cannot
// be written.
[[nodiscard]] int RegisterReader(const QString& executablePath);

// Takes away what RegisterReader added, leaving every other line of
// mimeapps.list as it was. 0, or -1 when a file cannot be removed or rewritten.
[[nodiscard]] int UnregisterReader();

}  // namespace qalv
