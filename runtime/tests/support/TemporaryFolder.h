#pragma once
// A fresh folder for one test, removed afterwards, with helpers to lay out files in it.

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace kestro::testing {

class TemporaryFolder {
  public:
    TemporaryFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestro-unit-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
        m_path = std::filesystem::canonical(pattern).string();
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::string& path() const { return m_path; }

    // Writes `contents` at path/relative, creating the folders on the way; returns the full path.
    std::string write(const std::string& relative, const std::string& contents) const {
        const std::filesystem::path full = std::filesystem::path(m_path) / relative;
        std::filesystem::create_directories(full.parent_path());
        std::ofstream(full, std::ios::binary) << contents;
        return full.string();
    }

    std::string folder(const std::string& relative) const {
        const std::filesystem::path full = std::filesystem::path(m_path) / relative;
        std::filesystem::create_directories(full);
        return full.string();
    }

  private:
    std::string m_path;
};

} // namespace kestro::testing
