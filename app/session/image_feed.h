#pragma once
#include <cstdint>
#include <string>

#include "app/session/flow_loader.h"
#include "app/io/frame_pattern.h"
#include "host/image.h"

namespace lumets {

// The pictures of one image input, frame by frame: a solid colour, a built-in
// shape, a still image file, or an image sequence (a file-name pattern with a
// frame-number field). With a proxy factor above 1 every picture is reduced and
// carries its full size in its tags.
class ImageFeed {
public:
    ImageFeed(const ImageSourceSpec& spec, int proxy, std::string role);
    ~ImageFeed();
    ImageFeed(const ImageFeed&) = delete;
    ImageFeed& operator=(const ImageFeed&) = delete;

    // Makes or reads a still picture now, and checks that every file of a
    // sequence exists and opens for frames from..to. Throws UserError.
    void Check(int64_t from, int64_t to);
    // The picture for a frame (the feed keeps the reference). Throws UserError.
    Image* At(int64_t frame);
    bool IsSequence() const { return Sequence; }

private:
    Image* Prepare(Image* full) const;  // takes full, returns the picture to use

    ImageSourceSpec Spec;
    int Proxy;
    std::string Role;
    FramePattern Pattern;
    bool Sequence = false;
    Image* Current = nullptr;
    int64_t CurrentFrame = 0;
};

}  // namespace lumets
