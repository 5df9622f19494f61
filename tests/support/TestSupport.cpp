#include "TestSupport.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <stdlib.h>

namespace quern::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quern-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
    m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(m_path, ignored);
}

std::string samplePrefixDir() { return std::string(QUERN_SHARED_DIR) + "/fixtures/wine-prefix"; }

void copySamplePrefix(const std::string& dir) {
    for (const char* name : {"system.reg", "user.reg", "userdef.reg"}) {
        const auto target = std::filesystem::path(dir) / name;
        std::filesystem::copy_file(std::filesystem::path(samplePrefixDir()) / name, target,
                                   std::filesystem::copy_options::overwrite_existing);
        std::filesystem::permissions(target, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                                 std::filesystem::perms::group_read | std::filesystem::perms::others_read);
    }
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

bool fileExists(const std::string& path) { return std::filesystem::exists(path); }

} // namespace quern::test
