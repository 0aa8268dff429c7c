// A symbolic link under a fixed name that follows the slave device, so that hosts can find
// the line without reading the simulator's output.
#pragma once

#include <string>

namespace qk42rt {

// Makes `link` point at `target`, replacing an earlier symbolic link in one step. Refuses
// (std::runtime_error) to replace anything that is not a symbolic link.
void point_link(const std::string& link, const std::string& target);

// Removes `link` if it is still a symbolic link to `target`.
void remove_link(const std::string& link, const std::string& target);

}  // namespace qk42rt
