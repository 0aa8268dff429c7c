// A fresh temporary folder for a test's configuration, token and password files, removed with
// everything in it at the end.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace qk42rt::testing {

class ConfigFolder {
  public:
    ConfigFolder() {
        std::string name = (std::filesystem::temp_directory_path() / "qk42rt-config-XXXXXX");
        if (mkdtemp(name.data()) != nullptr) path_ = name;
        EXPECT_FALSE(path_.empty()) << "no temporary folder";
    }
    ~ConfigFolder() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    ConfigFolder(const ConfigFolder&) = delete;
    ConfigFolder& operator=(const ConfigFolder&) = delete;

    const std::string& path() const { return path_; }

    // Writes `text` to NAME in the folder with `mode`; its path.
    std::string write(const std::string& name, const std::string& text, mode_t mode = 0600) const {
        const std::string file = path_ + "/" + name;
        std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
        EXPECT_EQ(chmod(file.c_str(), mode), 0) << file;
        return file;
    }

  private:
    std::string path_;
};

// `text` with every "{dir}" replaced by `folder`.
inline std::string in_folder(std::string text, const std::string& folder) {
    for (auto at = text.find("{dir}"); at != std::string::npos; at = text.find("{dir}", at)) {
        text.replace(at, 5, folder);
    }
    return text;
}

}  // namespace qk42rt::testing
