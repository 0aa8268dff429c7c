// Who else may read a file of secrets (the API token, the MQTT password, a TLS key), as the
// system tells it, and this machine's name.
#pragma once

#include <optional>
#include <string>

namespace qk42rt::server {

struct FilePrivacy {
    bool regular = false;         // a plain file, not a pipe or a device
    bool group_may_use = false;   // its group may read, write or run it
    bool others_may_use = false;  // anyone else may
    std::string mode;             // "600" where the system has permission bits
};

// The file's privacy; empty, with `error` saying why ("No such file or directory"), when it
// cannot be looked at. On Windows the file's access control list is not read: both flags stay
// false there, and the file's protection is the folder's it lies in.
std::optional<FilePrivacy> file_privacy(const std::string& path, std::string& error);

// This machine's name, empty when the system does not tell.
std::string host_name();

}  // namespace qk42rt::server
