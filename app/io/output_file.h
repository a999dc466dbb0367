#pragma once
#include <sys/types.h>

#include <cstddef>
#include <string>

namespace lumets {

// A file written so that its name never holds anything but a complete file:
// the bytes go to a new temporary file in the target's folder, created
// exclusively under an unpredictable hidden name (".NAME.tmpXXXXXXXXXXXX",
// never through a link planted there), and the temporary file is renamed over
// the target only when every byte is written and synced to disk. The rename
// replaces a link at the target's name rather than writing through it. Until
// Commit() the target is untouched; an OutputFile dropped before (an error, a
// Ctrl-C) removes its temporary file.
class OutputFile {
public:
    // Makes the target's folder when needed and creates the temporary file.
    // Throws UserError.
    explicit OutputFile(const std::string& path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Writes all of the bytes, or throws UserError (a full disk among the reasons).
    void Write(const void* data, size_t size);
    // Closes the temporary file for another writer that opens it by name (the
    // tool writing a recording); Commit() then syncs what that writer left, if
    // the file is still the one created here.
    void Close();
    // Syncs the bytes to disk, closes the temporary file and renames it over
    // the target. Throws UserError (and removes the temporary file).
    void Commit();

    const std::string& Target() const { return Final; }
    const std::string& TemporaryName() const { return Temp; }

private:
    std::string Final, Temp;
    int Fd = -1;
    dev_t Device = 0;
    ino_t Inode = 0;
    bool Committed = false;
};

}  // namespace lumets
