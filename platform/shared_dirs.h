// What the program checks about files and folders in directories other users can write
// to (/tmp, /run/lock): who owns a file and what kind it is, for messages, and the
// user's own private directory for what belongs to one user alone.
#pragma once

#include <string>

namespace tavo {

// "nobody (uid 65534)", or "uid 4242" when the user has no name.
std::string UserText(unsigned uid);

// "a regular file", "a folder", "a FIFO", "a symbolic link", "a socket", "a device".
std::string FileKindText(unsigned mode);

// A directory only this user can use: $XDG_RUNTIME_DIR when it is set, else
// PrivateDirectory("/tmp"). Empty with error set when neither can be used.
std::string UserRuntimeDirectory(std::string& error);

// base/tavoflash-<uid>, created with mode 0700 when missing. An existing one must be a
// real folder (not a link) owned by this user; its mode is then set to 0700. Empty with
// error naming the folder, its kind and owner when it cannot be used.
std::string PrivateDirectory(const std::string& base, std::string& error);

}  // namespace tavo
