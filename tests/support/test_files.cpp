// The file helpers of temp_dir.h that both systems share.
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/temp_dir.h"

namespace tarnwick::testing {

namespace fs = std::filesystem;

void WriteFile(const fs::path& file, const std::string& content,
               std::optional<platform::FileTime> lastWrite) {
    fs::create_directories(file.parent_path());
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        if (!out) {
            throw std::runtime_error("cannot write " + file.string());
        }
        out << content;
    }
    if (lastWrite) {
        SetLastWrite(file, *lastWrite);
    }
}

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

}  // namespace tarnwick::testing
