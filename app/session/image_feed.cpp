#include "app/session/image_feed.h"

#include <cmath>
#include <filesystem>

#include "app/session/builtin_shapes.h"
#include "app/io/errors.h"
#include "app/io/image_io.h"
#include "host/tags.h"

namespace lumets {

ImageFeed::ImageFeed(const ImageSourceSpec& spec, int proxy, std::string role)
    : Spec(spec), Proxy(proxy < 1 ? 1 : proxy), Role(std::move(role)) {
    if (Spec.SourceKind == ImageSourceSpec::Kind::File) {
        Pattern = FramePattern(Spec.Path);
        Sequence = Pattern.HasField();
    }
}

ImageFeed::~ImageFeed() {
    if (Current) Current->Recycle();
}

Image* ImageFeed::Prepare(Image* full) const {
    if (Proxy <= 1) return full;
    Image* reduced = ReduceImage(*full, Proxy);
    full->Recycle();
    return reduced;
}

void ImageFeed::Check(int64_t from, int64_t to) {
    if (!Sequence) {
        At(from);
        return;
    }
    for (int64_t f = from; f <= to; ++f) {
        const std::string name = Pattern.At(f);
        std::error_code ec;
        if (!std::filesystem::exists(name, ec))
            throw UserError("missing file " + name + " (" + Role + " sequence, frame " + std::to_string(f) + ")");
        CheckImageFile(name);
    }
}

Image* ImageFeed::At(int64_t frame) {
    if (Current && (!Sequence || CurrentFrame == frame)) return Current;
    Image* picture = nullptr;
    switch (Spec.SourceKind) {
    case ImageSourceSpec::Kind::Solid: {
        Image* full = new Image(Spec.Width, Spec.Height, Spec.AspectX, Spec.AspectY);
        HostPixel p;
        p.R = uint32_t(std::lround(Spec.Color[0] * 65535.0));
        p.G = uint32_t(std::lround(Spec.Color[1] * 65535.0));
        p.B = uint32_t(std::lround(Spec.Color[2] * 65535.0));
        p.A = uint32_t(std::lround(Spec.Color[3] * 65535.0));
        full->Fill(p);
        if (Spec.Field) full->ImageTags().Set(TagItem(Tags::Field, 1));
        picture = Prepare(full);
        break;
    }
    case ImageSourceSpec::Kind::Shape:
        picture = Prepare(MakeBuiltinShape(Spec.Shape, Spec.Size));
        break;
    case ImageSourceSpec::Kind::Picture:
        if (!Spec.Picture) throw UserError("no " + Role + " picture");
        picture = Prepare(Spec.Picture->CopyOfImage());
        break;
    case ImageSourceSpec::Kind::File:
        picture = Prepare(ReadImageFile(Sequence ? Pattern.At(frame) : Spec.Path));
        break;
    }
    if (Current) Current->Recycle();
    Current = picture;
    CurrentFrame = frame;
    return Current;
}

}  // namespace lumets
