#include "app/io/image_io.h"

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "app/io/errors.h"
#include "app/io/input_files.h"
#include "app/io/output_file.h"
#include "host/tags.h"

namespace fs = std::filesystem;

namespace lumets {

namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string ExtensionOf(const std::string& path) { return Lower(fs::path(path).extension().string()); }

uint16_t* PixelWords(Image& image, int32_t x, int32_t y) {
    return image.Data() + (image.RowOffsets[size_t(y)] + int64_t(x) * image.PixelStep) / 2;
}
const uint16_t* PixelWords(const Image& image, int32_t x, int32_t y) {
    return image.Data() + (image.RowOffsets[size_t(y)] + int64_t(x) * image.PixelStep) / 2;
}

uint16_t FromUnit(float v) {
    if (!(v > 0.0f)) return 0;  // also NaN
    if (v >= 1.0f) return 65535;
    return uint16_t(std::lround(double(v) * 65535.0));
}

// The largest image file read: a full-size picture of the largest accepted
// pixel count as uncompressed float RGBA, with room to spare.
constexpr uint64_t MaxImageFileBytes = uint64_t(8) << 30;

std::string OneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

// An image file opened for reading through our own descriptor: only a regular
// file is opened (a device or a FIFO would never end a read), and the image
// library reads the very file that was checked, through an I/O proxy, not a
// name that could be swapped meanwhile.
class ImageReader {
public:
    explicit ImageReader(const std::string& path) {
        InputFile file(path, MaxImageFileBytes, "image");
        Stream.reset(::fdopen(file.Fd(), "rb"));
        if (!Stream) throw UserError("cannot read image " + path + ": " + std::strerror(errno));
        file.Release();
        Proxy = std::make_unique<OIIO::Filesystem::IOFile>(Stream.get(), OIIO::Filesystem::IOProxy::Read);
        OIIO::ImageSpec config;
        // Keep colour channels as stored: no premultiplication by alpha on reading.
        config.attribute("oiio:UnassociatedAlpha", 1);
        In = OIIO::ImageInput::create(path, true, &config, Proxy.get());
        if (!In) {
            const std::string why = OneLine(OIIO::geterror());
            throw UserError("cannot read image " + path + (why.empty() ? "" : ": " + why));
        }
    }
    OIIO::ImageInput& Input() { return *In; }

private:
    struct Closer {
        void operator()(FILE* f) const { std::fclose(f); }
    };
    // Destroyed in reverse: the reader, then its proxy, then the stream.
    std::unique_ptr<FILE, Closer> Stream;
    std::unique_ptr<OIIO::Filesystem::IOFile> Proxy;
    std::unique_ptr<OIIO::ImageInput> In;
};

// The image library's writer for one output file, writing into memory through
// an I/O proxy rather than to the disk: a full disk or another failing write then
// meets our own writing of the bytes, which reports it, and not the library
// (whose JPEG writer would end the process on it). The bytes are the ones the
// writer gives a file.
class MemoryEncoder {
public:
    explicit MemoryEncoder(const std::string& path) : Path(path), Out(OIIO::ImageOutput::create(path)) {
        if (!Out) throw UserError("cannot write " + path + ": " + OneLine(OIIO::geterror()));
        if (!Out->supports("ioproxy") || !Out->set_ioproxy(&Memory))
            throw UserError("cannot write " + path + ": the " + Out->format_name() + " writer cannot write to memory");
    }
    OIIO::ImageOutput& Output() { return *Out; }

    // Closes the writer and gives the file's bytes; throws UserError when the
    // writer failed (ok false) or its close does. (A message left pending after
    // a successful close is no failure: the TIFF writer leaves one about its
    // Exif block in every file, as it always has.)
    std::vector<unsigned char> Finish(bool ok) {
        if (!ok || !Out->close()) throw UserError("cannot write " + Path + ": " + OneLine(Out->geterror()));
        Out.reset();
        return std::move(Bytes);
    }

private:
    const std::string Path;
    std::vector<unsigned char> Bytes;
    OIIO::Filesystem::IOVecOutput Memory{Bytes};
    std::unique_ptr<OIIO::ImageOutput> Out;  // destroyed before the proxy it writes to
};

}  // namespace

Rgba16 PixelAt(const Image& image, int32_t x, int32_t y) {
    const uint16_t* w = PixelWords(image, x, y);
    return Rgba16{w[2], w[1], w[0], w[3]};
}

void SetPixelAt(Image& image, int32_t x, int32_t y, const Rgba16& p) {
    uint16_t* w = PixelWords(image, x, y);
    w[0] = p.B;
    w[1] = p.G;
    w[2] = p.R;
    w[3] = p.A;
}

void CheckImageFile(const std::string& path) { ImageReader reader(path); }

Image* ReadImageFile(const std::string& path) {
    ImageReader reader(path);
    OIIO::ImageInput* in = &reader.Input();
    const OIIO::ImageSpec& spec = in->spec();
    const int w = spec.width, h = spec.height, nch = spec.nchannels;
    if (w <= 0 || h <= 0 || nch <= 0 || int64_t(w) * h > (int64_t(1) << 28))
        throw UserError("cannot read image " + path + ": unusable size " + std::to_string(w) + "x" +
                        std::to_string(h));
    const double pixelAspect = spec.get_float_attribute("PixelAspectRatio", 1.0f);
    const double aspectX = (pixelAspect > 0.0 && std::isfinite(pixelAspect)) ? pixelAspect : 1.0;

    const size_t count = size_t(w) * size_t(h) * size_t(nch);
    std::vector<uint16_t> words(count);
    bool ok;
    if (spec.format == OIIO::TypeDesc::UINT16) {
        ok = in->read_image(0, 0, 0, nch, OIIO::TypeDesc::UINT16, words.data());
    } else if (spec.format == OIIO::TypeDesc::UINT8) {
        std::vector<uint8_t> bytes(count);
        ok = in->read_image(0, 0, 0, nch, OIIO::TypeDesc::UINT8, bytes.data());
        for (size_t i = 0; i < count; ++i) words[i] = uint16_t(bytes[i] * 257u);
    } else {
        std::vector<float> values(count);
        ok = in->read_image(0, 0, 0, nch, OIIO::TypeDesc::FLOAT, values.data());
        for (size_t i = 0; i < count; ++i) words[i] = FromUnit(values[i]);
    }
    if (!ok) {
        const std::string why = OneLine(in->geterror());
        throw UserError("cannot read image " + path + (why.empty() ? "" : ": " + why));
    }
    int alpha = spec.alpha_channel;
    if (alpha < 0 && (nch == 2 || nch >= 4)) alpha = nch == 2 ? 1 : 3;
    const bool gray = nch < 3;

    Image* image = new Image(w, h, aspectX, 1.0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint16_t* s = &words[(size_t(y) * size_t(w) + size_t(x)) * size_t(nch)];
            Rgba16 p;
            p.R = s[0];
            p.G = gray ? s[0] : s[1];
            p.B = gray ? s[0] : s[2];
            p.A = alpha >= 0 ? s[alpha] : 65535;
            SetPixelAt(*image, x, y, p);
        }
    return image;
}

void CheckOutputFormat(const std::string& path) {
    const std::string ext = ExtensionOf(path);
    if (ext == ".png" || ext == ".tif" || ext == ".tiff" || ext == ".exr" || ext == ".jpg" || ext == ".jpeg") return;
    throw UserError("cannot write \"" + path + "\": unsupported output format \"" + ext +
                    "\" (use .png, .tif, .exr or .jpg)");
}

void WriteImageFile(const Image& image, const std::string& path) {
    CheckOutputFormat(path);
    const std::string ext = ExtensionOf(path);
    const int w = image.Width, h = image.Height;
    MemoryEncoder encoder(path);
    OIIO::ImageOutput* out = &encoder.Output();

    // No time stamp in the files: the same frame rendered twice gives the same bytes.
    auto stamped = [](OIIO::ImageSpec spec) {
        spec.attribute("DateTime", "");
        return spec;
    };
    bool ok = false;
    if (ext == ".jpg" || ext == ".jpeg") {
        OIIO::ImageSpec spec(w, h, 3, OIIO::TypeDesc::UINT8);
        spec.attribute("Compression", "jpeg:95");
        std::vector<uint8_t> bytes(size_t(w) * size_t(h) * 3);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const Rgba16 p = PixelAt(image, x, y);
                uint8_t* d = &bytes[(size_t(y) * size_t(w) + size_t(x)) * 3];
                d[0] = uint8_t((p.R + 128u) / 257u);
                d[1] = uint8_t((p.G + 128u) / 257u);
                d[2] = uint8_t((p.B + 128u) / 257u);
            }
        ok = out->open(path, stamped(spec)) && out->write_image(OIIO::TypeDesc::UINT8, bytes.data());
    } else if (ext == ".exr") {
        OIIO::ImageSpec spec(w, h, 4, OIIO::TypeDesc::HALF);
        spec.alpha_channel = 3;
        std::vector<float> values(size_t(w) * size_t(h) * 4);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const Rgba16 p = PixelAt(image, x, y);
                float* d = &values[(size_t(y) * size_t(w) + size_t(x)) * 4];
                d[0] = float(p.R / 65535.0);
                d[1] = float(p.G / 65535.0);
                d[2] = float(p.B / 65535.0);
                d[3] = float(p.A / 65535.0);
            }
        ok = out->open(path, stamped(spec)) && out->write_image(OIIO::TypeDesc::FLOAT, values.data());
    } else {
        OIIO::ImageSpec spec(w, h, 4, OIIO::TypeDesc::UINT16);
        spec.alpha_channel = 3;
        // Write the channel values as they are (no division by alpha).
        spec.attribute("oiio:UnassociatedAlpha", 1);
        if (image.AspectX > 0 && image.AspectY > 0 && image.AspectX != image.AspectY)
            spec.attribute("PixelAspectRatio", float(image.AspectX / image.AspectY));
        std::vector<uint16_t> words(size_t(w) * size_t(h) * 4);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const Rgba16 p = PixelAt(image, x, y);
                uint16_t* d = &words[(size_t(y) * size_t(w) + size_t(x)) * 4];
                d[0] = p.R;
                d[1] = p.G;
                d[2] = p.B;
                d[3] = p.A;
            }
        ok = out->open(path, stamped(spec)) && out->write_image(OIIO::TypeDesc::UINT16, words.data());
    }
    const std::vector<unsigned char> encoded = encoder.Finish(ok);
    OutputFile file(path);
    file.Write(encoded.data(), encoded.size());
    file.Commit();
}

void WriteFileAtomically(const std::string& path, const std::string& bytes) {
    OutputFile file(path);
    file.Write(bytes.data(), bytes.size());
    file.Commit();
}

Image* ReduceImage(const Image& image, int factor) {
    if (factor < 1) factor = 1;
    const int32_t w = std::max<int32_t>(1, image.Width / factor);
    const int32_t h = std::max<int32_t>(1, image.Height / factor);
    Image* out = new Image(w, h, image.AspectX, image.AspectY);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint64_t sum[4] = {0, 0, 0, 0};
            uint64_t n = 0;
            for (int32_t sy = y * factor; sy < std::min(image.Height, (y + 1) * factor); ++sy)
                for (int32_t sx = x * factor; sx < std::min(image.Width, (x + 1) * factor); ++sx) {
                    const Rgba16 p = PixelAt(image, sx, sy);
                    sum[0] += p.R;
                    sum[1] += p.G;
                    sum[2] += p.B;
                    sum[3] += p.A;
                    ++n;
                }
            if (n == 0) n = 1;
            SetPixelAt(*out, x, y,
                       Rgba16{uint16_t((sum[0] + n / 2) / n), uint16_t((sum[1] + n / 2) / n),
                              uint16_t((sum[2] + n / 2) / n), uint16_t((sum[3] + n / 2) / n)});
        }
    for (const TagItem& t : image.ImageTags().Items) out->ImageTags().Set(t);
    out->ImageTags().Set(TagItem(Tags::FullWidth, int32_t(image.Width)));
    out->ImageTags().Set(TagItem(Tags::FullHeight, int32_t(image.Height)));
    return out;
}

}  // namespace lumets
