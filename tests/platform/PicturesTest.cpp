// Loading and saving BMP pictures.
#include "platform/Pictures.h"
#include "platform/Errors.h"
#include "support/TempDirTest.h"

#include <QFile>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

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

    static QByteArray Bytes(const fs::path& p) {
        QFile f(QString::fromStdString(p.string()));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

} // namespace

TEST_F(PicturesTest, SavesA24BitBmpUnderExactlyTheNameGiven) {
    // Whatever the name's extension says, the file is a BMP and no extension is added.
    for (const char* name : {"frame001.bmp", "snapshot.png", "noextension"}) {
        const auto file = dir / name;
        SavePicture(Pattern(), file);
        const QByteArray bytes = Bytes(file);
        ASSERT_EQ(bytes.size(), 921654) << name;
        EXPECT_EQ(bytes.left(2), "BM");
        EXPECT_EQ(static_cast<unsigned char>(bytes[10]), 54) << "pixel data right after header";
        EXPECT_EQ(static_cast<unsigned char>(bytes[28]), 24) << "bits per pixel";
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

TEST_F(PicturesTest, PicturesWithTransparencyAreSavedOpaqueIn24Bits) {
    QImage picture(640, 480, QImage::Format_ARGB32);
    picture.fill(qRgba(10, 20, 30, 128));
    SavePicture(picture, dir / "a.bmp");
    EXPECT_EQ(Bytes(dir / "a.bmp").size(), 921654);
}

TEST_F(PicturesTest, LoadRefusesMissingAndNonPictureFilesNamingThem) {
    EXPECT_THROW(LoadPicture(dir / "missing.bmp"), FileError);
    make("garbage.bmp", "BM but not really a picture");
    try {
        LoadPicture(dir / "garbage.bmp");
        ADD_FAILURE() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(e.file(), dir / "garbage.bmp");
    }
}

TEST_F(PicturesTest, SavingNoPictureKeepsTheExistingFile) {
    const auto file = dir / "frame.bmp";
    SavePicture(Pattern(), file);
    const QByteArray before = Bytes(file);
    EXPECT_THROW(SavePicture(QImage(), file), FileError);
    EXPECT_EQ(Bytes(file), before);
}

TEST_F(PicturesTest, SavingIntoAMissingDirectoryFailsWithoutLeavingAnything) {
    EXPECT_THROW(SavePicture(Pattern(), dir / "missing" / "frame.bmp"), FileError);
    EXPECT_FALSE(fs::exists(dir / "missing"));
}
