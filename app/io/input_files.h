#pragma once
#include <cstdint>
#include <string>

namespace lumets {

// Inputs named by a flow, a command line or an HTTP request are opened only if
// they are regular files: a device (/dev/zero), a FIFO or a folder would hang a
// read or never end it. Throws UserError with one line naming the path; `what`
// says what the file was for ("flow file", "image", "motion-data file").
void RequireRegularFile(const std::string& path, const std::string& what);

// Reads a whole regular file of at most `limit` bytes. The file is opened
// without blocking (a FIFO planted under the name cannot hold the open) and
// checked on the open descriptor, so a name swapped after the check is not
// read either. Throws UserError.
std::string ReadInputFile(const std::string& path, uint64_t limit, const std::string& what);

// A regular file of at most `limit` bytes opened for reading the same way, for a
// reader that takes a descriptor (the image library). Closes the descriptor
// unless released. Throws UserError.
class InputFile {
public:
    InputFile(const std::string& path, uint64_t limit, const std::string& what);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    int Fd() const { return Descriptor; }
    uint64_t Size() const { return Bytes; }
    // Hands the descriptor over to the caller, who closes it.
    int Release();

private:
    int Descriptor = -1;
    uint64_t Bytes = 0;
};

}  // namespace lumets
