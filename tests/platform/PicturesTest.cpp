// Loading and saving BMP pictures.
#include "platform/Pictures.h"
#include "platform/Errors.h"
#include "support/TempDirTest.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>

using namespace lumenvale;
namespace fs = std::filesystem;

namespace {

struct PicturesTest : test::TempDirTest {
    static QImage Pattern() {
        QImage picture(640, 480, QImage::Format_RGB32);
        for (int y = 0; y < 480; ++y) {
            for (int x = 0; x < 640; ++x) {
                picture.setPixel(x, y, qRgb(x % 256, y % 256, (x * 3 + y) % 256));
            }
        }
        return picture;
    }
};

} // namespace

TEST_F(PicturesTest, SavesAnOpaque24BitBmpUnderExactlyTheNameGiven) {
    QImage translucent(640, 480, QImage::Format_ARGB32);
    translucent.fill(qRgba(10, 20, 30, 128));
    // Whatever the name's extension says, the file is a BMP and no extension is added; a
    // picture with transparency is saved opaque in 24 bits like any other.
    for (const auto& [name, picture] : {std::pair{"frame001.bmp", Pattern()},
                                        {"snapshot.png", Pattern()},
                                        {"noextension", translucent}}) {
        SCOPED_TRACE(name);
        SavePicture(picture, dir / name);
        const std::string bytes = read(dir / name);
        ASSERT_EQ(bytes.size(), 921654u);
        EXPECT_EQ(bytes[0], 'B');
        EXPECT_EQ(bytes[1], 'M');
        EXPECT_EQ(bytes[10], 54) << "pixel data right after the header";
        EXPECT_EQ(bytes[28], 24) << "bits per pixel";
    }
    EXPECT_EQ(entries(), 3U);
}

TEST_F(PicturesTest, SavedPictureLoadsBackPixelForPixel) {
    const auto file = dir / "frame.bmp";
    SavePicture(Pattern(), file);
    const QImage loaded = LoadPicture(file);
    ASSERT_EQ(loaded.size(), QSize(640, 480));
    const QImage expected = Pattern();
    for (QPoint p : {QPoint(0, 0), QPoint(639, 0), QPoint(0, 479), QPoint(321, 123)}) {
        EXPECT_EQ(loaded.pixel(p), expected.pixel(p)) << p.x() << "," << p.y();
    }
}

TEST_F(PicturesTest, LoadRefusesMissingAndNonPictureFilesNamingThem) {
    make("garbage.bmp", "BM but not really a picture");
    for (const char* name : {"missing.bmp", "garbage.bmp"}) {
        EXPECT_EQ(test::ThrownFileError([&] { LoadPicture(dir / name); }).file(), dir / name);
    }
}

TEST_F(PicturesTest, FailedSaveKeepsTheExistingFileAndLeavesNothingBehind) {
    const auto file = dir / "frame.bmp";
    SavePicture(Pattern(), file);
    const std::string before = read(file);

    EXPECT_THROW(SavePicture(QImage(), file), FileError);
    EXPECT_THROW(SavePicture(Pattern(), dir / "missing" / "frame.bmp"), FileError);

    EXPECT_TRUE(read(file) == before);
    EXPECT_EQ(entries(), 1U);
}
