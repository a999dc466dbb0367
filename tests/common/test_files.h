#pragma once
// Files in tests: a scratch folder of the test's own, removed with all it holds
// when the test ends, and whole files read and written as bytes.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace testfiles {

using Bytes = std::vector<unsigned char>;

inline Bytes ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::filesystem::path& path, const Bytes& b) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

class ScratchDir {
public:
    ScratchDir() {
        std::string name = (std::filesystem::temp_directory_path() / "lumets-test-XXXXXX").string();
        if (!mkdtemp(name.data())) throw std::runtime_error("cannot make a scratch folder " + name);
        Path = name;
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(Path, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::filesystem::path Path;
};

}  // namespace testfiles
