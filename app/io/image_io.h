#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "host/image.h"

namespace lumets {

// Reads an image file (PNG, TIFF, EXR, JPEG, DPX, ...) into a new host image the
// caller owns (one reference). 16-bit files are read exactly, 8-bit values are
// multiplied by 257, floating values are limited to 0..1 and scaled to 0..65535
// (rounded); a file without alpha is opaque. The pixel aspect comes from the
// file's "PixelAspectRatio" when present. Throws UserError when the file cannot
// be read.
// Only regular files are read: a device, a FIFO or a folder is refused with one
// line before anything is read.
Image* ReadImageFile(const std::string& path);

// Opens the image file and reads its header, as ReadImageFile does, without
// reading the pixels. Throws UserError.
void CheckImageFile(const std::string& path);

// Throws UserError unless the extension names an output format we write:
// .png, .tif/.tiff (16-bit RGBA), .exr (half RGBA), .jpg/.jpeg (8-bit RGB).
void CheckOutputFormat(const std::string& path);

// Encodes the image in memory and writes it as an OutputFile: under a new
// temporary name in the destination's folder, renamed into place once every
// byte is on disk, so that a reader never sees a partial file. Creates the
// folder when needed. Throws UserError on failure (a full disk among them);
// nothing is left behind then.
void WriteImageFile(const Image& image, const std::string& path);

// Writes bytes to a file the same atomic way.
void WriteFileAtomically(const std::string& path, const std::string& bytes);

// A copy reduced by an integer factor (box average over factor x factor pixels),
// with the full-size tags (FullWidth, FullHeight) of the original size set and
// the field tag kept. Factor 1 gives a plain copy with the tags set.
Image* ReduceImage(const Image& image, int factor);

// Pixel (x, y) of a host image as (R, G, B, A) 16-bit values.
struct Rgba16 {
    uint16_t R = 0, G = 0, B = 0, A = 0;
};
Rgba16 PixelAt(const Image& image, int32_t x, int32_t y);
void SetPixelAt(Image& image, int32_t x, int32_t y, const Rgba16& p);

}  // namespace lumets
