#include <gtest/gtest.h>

#include <OpenImageIO/imageio.h>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/io/base64.h"
#include "app/session/builtin_shapes.h"
#include "app/io/errors.h"
#include "app/io/frame_pattern.h"
#include "app/io/image_io.h"
#include "app/io/motion_file.h"
#include "motiondata/motion_file.h"
#include "common/test_files.h"
#include "host/tags.h"

using namespace lumets;
namespace fs = std::filesystem;

namespace {

// Little-endian writer for hand-made motion-data files.
struct Bytes {
    std::vector<uint8_t> B;
    template <class T>
    Bytes& Put(T v) {
        const auto* p = reinterpret_cast<const uint8_t*>(&v);
        B.insert(B.end(), p, p + sizeof v);
        return *this;
    }
};

// Two frames: frame 0 with one particle, frame 1 with two.
Bytes SmallMotionFile() {
    Bytes b;
    b.Put<int32_t>(2);
    const uint32_t data = uint32_t(motion_file::DataStart(2));
    b.Put<double>(30).Put<int32_t>(0).Put<int32_t>(1).Put<uint32_t>(data);
    b.Put<double>(31).Put<int32_t>(0).Put<int32_t>(2).Put<uint32_t>(data + 40);
    for (double v : {0.1, 0.2, 45.0, 1.0, 1.5}) b.Put(v);
    for (double v : {0.11, 0.21, 46.0, 2.0, 1.5, 0.5, 0.5, 0.0, 1.0, 1.0}) b.Put(v);
    return b;
}

std::string ErrorOf(const std::vector<uint8_t>& bytes) {
    try {
        ParseMotionFile(bytes, "m.lpd");
    } catch (const UserError& e) {
        return e.what();
    }
    return "";
}

std::array<uint16_t, 4> Channels(const Rgba16& p) { return {p.R, p.G, p.B, p.A}; }

}  // namespace

TEST(FramePatterns, HashRunsAndPrintfFieldsGiveFrameNumbers) {
    EXPECT_EQ(FramePattern("out/a.####.png").At(7), "out/a.0007.png");
    EXPECT_EQ(FramePattern("a.#.png").At(123), "a.123.png");
    EXPECT_EQ(FramePattern("a.%04d.exr").At(12), "a.0012.exr");
    EXPECT_EQ(FramePattern("a.%d.exr").At(12), "a.12.exr");
    EXPECT_EQ(FramePattern("100%%_%03d.tif").At(5), "100%_005.tif");
    EXPECT_EQ(FramePattern("a.####.png").At(-3), "a.-0003.png");
    EXPECT_FALSE(FramePattern("still.png").HasField());
    EXPECT_EQ(FramePattern("still.png").At(9), "still.png");
}

TEST(FramePatterns, RefusesAmbiguousPatterns) {
    EXPECT_THROW(FramePattern("a.##.b.##.png"), UserError);
    EXPECT_THROW(FramePattern("a.##.%02d.png"), UserError);
    EXPECT_THROW(FramePattern("a.%s.png"), UserError);
    EXPECT_THROW(FramePattern("a.%04d.%d.png"), UserError);
    EXPECT_THROW(FramePattern(""), UserError);
}

TEST(Base64, RoundTripsEveryLengthAndRefusesBadText) {
    std::vector<uint8_t> bytes;
    for (int n = 0; n < 40; ++n) {
        EXPECT_EQ(DecodeBase64(EncodeBase64(bytes)), bytes);
        bytes.push_back(uint8_t(n * 37 + 200));
    }
    EXPECT_EQ(EncodeBase64({'M', 'a', 'n'}), "TWFu");
    EXPECT_EQ(EncodeBase64({'M'}), "TQ==");
    EXPECT_FALSE(DecodeBase64("TQ="));
    EXPECT_FALSE(DecodeBase64("T=Q="));
    EXPECT_FALSE(DecodeBase64("TQ==TWFu"));
    EXPECT_FALSE(DecodeBase64("TW$u"));
}

TEST(MotionFiles, ReadsAHandMadeFile) {
    const MotionFile f = ParseMotionFile(SmallMotionFile().B, "m.lpd");
    ASSERT_EQ(f.FrameCount, 2);
    EXPECT_EQ(f.Entries[0].Lifetime, 30.0);
    EXPECT_EQ(f.Entries[1].Live, 2);
    EXPECT_EQ(f.Entries[1].Offset, 84u);
    EXPECT_EQ(f.Entries[0].Records[0][2], 45.0);
    EXPECT_EQ(f.Entries[1].Records[1][0], 0.5);
    const std::string json = MotionFileJson(f);
    EXPECT_NE(json.find("\"frameCount\":2"), std::string::npos);
    EXPECT_NE(json.find("\"records\":[[0.1,0.2,45.0,1.0,1.5]]"), std::string::npos) << json;
    EXPECT_NE(MotionFileText(f, "m.lpd").find("frame 1: lifetime 31, retired 0, live 2, offset 84"), std::string::npos);
}

TEST(MotionFiles, RefusesHostileFilesWithOneLine) {
    EXPECT_NE(ErrorOf({1, 0}).find("shorter"), std::string::npos);
    Bytes huge;
    huge.Put<int32_t>(100000000);
    EXPECT_NE(ErrorOf(huge.B).find("frame count 100000000"), std::string::npos);
    Bytes negative;
    negative.Put<int32_t>(-1);
    EXPECT_NE(ErrorOf(negative.B).find("negative frame count"), std::string::npos);

    // One four-byte field of the good file overwritten: at, bytes, message.
    const size_t Entry0 = motion_file::EntryOffset(0), Entry1 = motion_file::EntryOffset(1);
    const std::tuple<size_t, const char*, const char*> damaged[] = {
        {Entry1 + 12, "\xff\xff\x00\x00", "frame entry 1"},   // frame 1 claims 65535 records
        {Entry1 + 16, "\xf0\xff\xff\xff", "beyond the end"},  // offset near 4 GiB
        {Entry0 + 16, "\x08\x00\x00\x00", "frame table"},     // records inside the frame table
        {Entry0 + 8, "\xff\xff\xff\xff", "negative particle count"},
        {Entry0 + 12, "\x03\x00\x00\x00", "to 5, more than the 3"},  // frame 0's three records take in frame 1's
    };
    for (const auto& [at, bytes, message] : damaged) {
        Bytes b = SmallMotionFile();
        std::memcpy(&b.B[at], bytes, 4);
        const std::string e = ErrorOf(b.B);
        EXPECT_NE(e.find(message), std::string::npos) << e;
        EXPECT_EQ(e.find('\n'), std::string::npos);
    }
}

TEST(ImageFiles, SixteenBitFilesRoundTripExactly) {
    const testfiles::ScratchDir scratch;
    const fs::path& dir = scratch.Path;
    Image* img = new Image(5, 3, 2.0, 1.0);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            SetPixelAt(*img, x, y, Rgba16{uint16_t(x * 13007 + y), uint16_t(65535 - x * 999), uint16_t(y * 20000 + 7),
                                          uint16_t(x * 16000 + 3)});
    for (const char* ext : {".png", ".tif"}) {
        const std::string path = (dir / (std::string("a") + ext)).string();
        WriteImageFile(*img, path);
        Image* back = ReadImageFile(path);
        ASSERT_EQ(back->Width, 5);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x)
                EXPECT_EQ(Channels(PixelAt(*img, x, y)), Channels(PixelAt(*back, x, y))) << ext << " " << x << "," << y;
        back->Recycle();
    }
    // EXR keeps value / 65535 as half floats: close, not exact.
    WriteImageFile(*img, (dir / "a.exr").string());
    Image* exr = ReadImageFile((dir / "a.exr").string());
    EXPECT_NEAR(PixelAt(*exr, 2, 1).R, PixelAt(*img, 2, 1).R, 40);
    exr->Recycle();
    img->Recycle();
    // Nothing but the finished files is left in the folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 3);
}

TEST(ImageFiles, EightBitFloatAndAlphaFreeFilesAreScaled) {
    const testfiles::ScratchDir scratch;
    const fs::path& dir = scratch.Path;
    {
        const uint8_t rgb[6] = {0, 128, 255, 10, 20, 30};
        auto out = OIIO::ImageOutput::create("x.png");
        OIIO::ImageSpec spec(2, 1, 3, OIIO::TypeDesc::UINT8);
        ASSERT_TRUE(out->open((dir / "rgb8.png").string(), spec));
        out->write_image(OIIO::TypeDesc::UINT8, rgb);
        out->close();
    }
    Image* img = ReadImageFile((dir / "rgb8.png").string());
    EXPECT_EQ(Channels(PixelAt(*img, 0, 0)), (std::array<uint16_t, 4>{0, 128 * 257, 65535, 65535}));  // no alpha: opaque
    img->Recycle();
    {
        const float v[4] = {-0.5f, 0.5f, 2.0f, 1.0f};
        auto out = OIIO::ImageOutput::create("x.exr");
        OIIO::ImageSpec spec(1, 1, 4, OIIO::TypeDesc::FLOAT);
        spec.attribute("PixelAspectRatio", 2.0f);
        ASSERT_TRUE(out->open((dir / "f.exr").string(), spec));
        out->write_image(OIIO::TypeDesc::FLOAT, v);
        out->close();
    }
    img = ReadImageFile((dir / "f.exr").string());
    EXPECT_EQ(Channels(PixelAt(*img, 0, 0)), (std::array<uint16_t, 4>{0, 32768, 65535, 65535}));  // clamped, rounded
    EXPECT_DOUBLE_EQ(img->AspectX, 2.0);  // pixel aspect from the file
    img->Recycle();
}

TEST(ImageFiles, FailuresAreOneLineErrorsAndLeaveNothing) {
    const testfiles::ScratchDir scratch;
    const fs::path& dir = scratch.Path;
    EXPECT_THROW(ReadImageFile((dir / "none.png").string()), UserError);
    std::ofstream((dir / "junk.png").string()) << "not an image";
    try {
        ReadImageFile((dir / "junk.png").string());
        FAIL();
    } catch (const UserError& e) {
        EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos);
    }
    Image* img = new Image(2, 2);
    EXPECT_THROW(WriteImageFile(*img, (dir / "a.bmpx").string()), UserError);
    // A folder in the way of the destination: the write fails and no temporary stays.
    fs::create_directories(dir / "taken.png");
    EXPECT_THROW(WriteImageFile(*img, (dir / "taken.png").string()), UserError);
    img->Recycle();
    for (const auto& e : fs::directory_iterator(dir)) EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
}

TEST(ImageFiles, ReductionAveragesAndSetsTheFullSize) {
    Image* img = new Image(5, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x) SetPixelAt(*img, x, y, Rgba16{uint16_t(x < 2 ? 1000 : 3000), 0, 0, 65535});
    img->ImageTags().Set(TagItem(Tags::Field, 1));
    Image* half = ReduceImage(*img, 2);
    EXPECT_EQ(std::make_pair(half->Width, half->Height), std::make_pair(2, 2));
    EXPECT_EQ(PixelAt(*half, 0, 0).R, 1000);
    EXPECT_EQ(PixelAt(*half, 1, 1).R, 3000);
    for (const auto& [tag, value] : {std::pair{Tags::FullWidth, 5}, {Tags::FullHeight, 4}, {Tags::Field, 1}})
        EXPECT_EQ(half->ImageTags().GetLong(tag, -1), value) << tag;
    half->Recycle();
    img->Recycle();
}

TEST(BuiltinShapes, AreWhiteOnTransparentAndSized) {
    for (const std::string& name : BuiltinShapeNames()) {
        Image* s = MakeBuiltinShape(name, 33);
        EXPECT_EQ(s->Width, 33);
        EXPECT_EQ(PixelAt(*s, 0, 0).A, 0) << name;  // corners are empty
        const Rgba16 c = PixelAt(*s, 16, name == "ring" ? 1 : 16);
        EXPECT_GT(c.A, 30000) << name;
        EXPECT_EQ(c.R, c.A);
        s->Recycle();
    }
    Image* dot = MakeBuiltinShape("dot", 33);
    Image* disc = MakeBuiltinShape("disc", 33);
    EXPECT_LT(PixelAt(*dot, 16, 4).A, PixelAt(*disc, 16, 4).A);  // the dot is soft towards its edge
    dot->Recycle();
    disc->Recycle();
    EXPECT_THROW(MakeBuiltinShape("blob", 8), UserError);
    EXPECT_THROW(MakeBuiltinShape("dot", 0), UserError);
}
