#pragma once
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// Raised when a loading archive is read past its end (or is otherwise unusable).
class CArchiveException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The saved-data stream, in the native encoding: little-endian 32-bit words,
// 32-bit IEEE floats, 16-bit words and doubles, with no padding.
class CArchive {
public:
    enum Mode { store = 0, load = 1 };

    // A storing archive that appends to its own buffer.
    CArchive();
    // A loading archive over a copy of the bytes.
    explicit CArchive(std::vector<uint8_t> bytes);

    bool IsStoring() const { return Storing; }
    bool IsLoading() const { return !Storing; }

    CArchive& operator<<(uint32_t v);
    CArchive& operator<<(int32_t v);
    CArchive& operator<<(uint16_t v);
    CArchive& operator<<(float v);
    CArchive& operator<<(double v);
    CArchive& operator>>(uint32_t& v);
    CArchive& operator>>(int32_t& v);
    CArchive& operator>>(uint16_t& v);
    CArchive& operator>>(float& v);
    CArchive& operator>>(double& v);

    void Write(const void* data, size_t n);
    // Reads exactly n bytes or throws CArchiveException.
    void Read(void* data, size_t n);

    // Bytes written so far (storing) or the whole stream (loading).
    const std::vector<uint8_t>& Buffer() const { return Bytes; }
    size_t Position() const { return Pos; }
    size_t Remaining() const { return Bytes.size() - Pos; }

private:
    bool Storing;
    std::vector<uint8_t> Bytes;
    size_t Pos = 0;
};
