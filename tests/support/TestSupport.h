#pragma once

#include <string>

namespace quern::test {

// A folder of its own for one test, removed with everything in it when the test ends.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    [[nodiscard]] const std::string& path() const { return m_path; }
    [[nodiscard]] std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// The shared sample prefix (read-only) and its files.
[[nodiscard]] std::string samplePrefixDir();

// Copies the sample prefix's three files into dir.
void copySamplePrefix(const std::string& dir);

[[nodiscard]] std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
[[nodiscard]] bool fileExists(const std::string& path);

} // namespace quern::test
