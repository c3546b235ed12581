// Where things live: the system root (the folder below which the codec
// libraries and the machine registry hive are found), the per-user temporary
// folder and the two registry hive files.
#pragma once

#include <optional>
#include <string>

namespace vntr::platform {

// The system root, without a trailing separator:
//  - $VNTR_WINDIR when it is set and not empty;
//  - otherwise derived from the file of the module that calls it: a codec
//    library at <root>/VNTR/QBL/<name>.so gives <root>, a program at
//    <root>/bin/<program> gives <root>.
// Nothing when neither works (a module in some other place).
std::optional<std::string> SystemRoot();

// Derives the root from a module's file path as SystemRoot() does; exposed for tests.
std::optional<std::string> SystemRootFromModulePath(const std::string &modulePath);

// Folder of the codec libraries: <root>/VNTR/QBL.
std::string CodecDirectory(const std::string &root);

// The per-user temporary folder, with a trailing '/': $TMPDIR (or /tmp)
// followed by "vntr-<uid>/", created with mode 0700 when missing.  Nothing
// when it cannot be created or is not ours.
std::optional<std::string> UserTempDirectory();

// Hive files.  $VNTR_MACHINE_HIVE, else <root>/VNTR/registry/machine.hive.
std::optional<std::string> MachineHivePath();
// $VNTR_USER_HIVE, else $XDG_CONFIG_HOME/vtbench32/user.hive, else
// $HOME/.config/vtbench32/user.hive.
std::optional<std::string> UserHivePath();

// The running program's own file (from /proc/self/exe).
std::optional<std::string> ExecutablePath();

// "a/b/c.so" -> "a/b"; "c.so" -> ".".
std::string DirectoryOf(const std::string &path);
// "a/b/c.so" -> "c.so".
std::string FileNameOf(const std::string &path);

// Creates a folder and its parents (mode 0755, or 0700 when `private_`).
bool MakeDirectories(const std::string &path, bool private_ = false);

} // namespace vntr::platform
