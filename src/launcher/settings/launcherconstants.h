#pragma once

#include <QLatin1String>
#include <QtGlobal>

namespace mirrel::launcher {

// Texts fixed for every launcher build; defined once so that the writer and the
// reader of a file name or option can never drift apart.
inline constexpr QLatin1String LauncherVersion("0.0.12");
inline constexpr QLatin1String LocalConfigurationCopyFileName("launchermetadata.json");
inline constexpr QLatin1String DefaultMarkerFileName("default");
inline constexpr QLatin1String SkipSelfUpdateOptionName("skip-selfupdate");
inline constexpr QLatin1String BackupSuffix(".old");
// A file of the launcher's own package is assembled under its name plus this while the launcher
// replaces itself, and takes the file's place only once it is complete.
inline constexpr QLatin1String ReplacementSuffix(".new");
inline constexpr QLatin1String ForcePatchMarkerFileName("FORCE_PATCH");
// Older launchers kept early chunks in this folder of the package's directory; a run removes what
// an ended one left behind, and no package file may take its name.
inline constexpr QLatin1String StagingDirectoryName(".launcher-staging");
inline constexpr QLatin1String SettingsFileName("launchersettings.ini");
inline constexpr QLatin1String EmbeddedSettingsFolder(":/settings/");

// Index of the launcher's own package; its installation directory is the
// launcher's directory.
inline constexpr int LauncherPackageIndex = 0x7FFFFFFF;

// Names of the objects through which the launcher, its second instances and the
// game client see each other.
inline constexpr QLatin1String SingleInstanceKey("1b7a377a-e61e-4016-a479-7054bc72a4f8");
inline constexpr char LauncherPresenceName[] = "Vantor-3cee13af-1c7c-4007-a3cf-2636f25b1616";
inline constexpr char ClientPresenceName[] = "Vantor-52f3fb16-0d45-45d4-978a-149b5692b074";

} // namespace mirrel::launcher
