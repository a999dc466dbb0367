#include "host/archive.h"

#include <cstring>

namespace {

uint64_t GetLE(const uint8_t* in, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= uint64_t(in[i]) << (8 * i);
    return v;
}

}  // namespace

CArchive::CArchive() : Storing(true) {}

CArchive::CArchive(std::vector<uint8_t> bytes) : Storing(false), Bytes(std::move(bytes)) {}

void CArchive::Write(const void* data, size_t n) {
    if (!Storing) throw CArchiveException("archive: write to an archive opened for reading");
    const uint8_t* p = static_cast<const uint8_t*>(data);
    Bytes.insert(Bytes.end(), p, p + n);
    Pos = Bytes.size();
}

void CArchive::Read(void* data, size_t n) {
    if (Storing) throw CArchiveException("archive: read from an archive opened for writing");
    if (n > Bytes.size() - Pos)
        throw CArchiveException("archive read past end: " + std::to_string(n) + " bytes wanted at offset " +
                                std::to_string(Pos) + ", " + std::to_string(Bytes.size() - Pos) + " left");
    if (n) std::memcpy(data, Bytes.data() + Pos, n);
    Pos += n;
}

CArchive& CArchive::operator<<(uint32_t v) {
    uint8_t b[4];
    for (int i = 0; i < 4; ++i) b[i] = uint8_t(v >> (8 * i));
    Write(b, 4);
    return *this;
}
CArchive& CArchive::operator<<(int32_t v) { return *this << uint32_t(v); }
CArchive& CArchive::operator<<(uint16_t v) {
    uint8_t b[2] = {uint8_t(v), uint8_t(v >> 8)};
    Write(b, 2);
    return *this;
}
CArchive& CArchive::operator<<(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    return *this << bits;
}
CArchive& CArchive::operator<<(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    uint8_t b[8];
    for (int i = 0; i < 8; ++i) b[i] = uint8_t(bits >> (8 * i));
    Write(b, 8);
    return *this;
}

CArchive& CArchive::operator>>(uint32_t& v) {
    uint8_t b[4];
    Read(b, 4);
    v = uint32_t(GetLE(b, 4));
    return *this;
}
CArchive& CArchive::operator>>(int32_t& v) {
    uint32_t u;
    *this >> u;
    v = int32_t(u);
    return *this;
}
CArchive& CArchive::operator>>(uint16_t& v) {
    uint8_t b[2];
    Read(b, 2);
    v = uint16_t(GetLE(b, 2));
    return *this;
}
CArchive& CArchive::operator>>(float& v) {
    uint32_t bits;
    *this >> bits;
    std::memcpy(&v, &bits, 4);
    return *this;
}
CArchive& CArchive::operator>>(double& v) {
    uint8_t b[8];
    Read(b, 8);
    const uint64_t bits = GetLE(b, 8);
    std::memcpy(&v, &bits, 8);
    return *this;
}
