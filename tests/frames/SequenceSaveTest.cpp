// Numbered names of the frames of a run and saving the viewer's picture under them.
#include "frames/SequenceSave.h"
#include "platform/Errors.h"
#include "platform/Pictures.h"
#include "support/TempDirTest.h"

#include <gtest/gtest.h>

#include <iterator>
#include <stdexcept>

namespace fs = std::filesystem;

namespace lumenvale {
namespace {

TEST(SequenceSaveTest, NumbersHaveAtLeastThreeDigits) {
    const struct {
        std::int16_t requested;
        std::int16_t remaining;
        const char* text;
    } cases[] = {
        {5, 5, "001"},
        {9, 1, "009"},
        {10, 1, "010"},
        {99, 1, "099"},
        {100, 1, "100"},
        {1000, 1, "1000"},
        {32767, 1, "32767"},
        // Stop during the second frame of five.
        {5, 0, "006"},
        // More remaining than requested: padded as any short text.
        {0, 5, "0-4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(SequenceNumberText(c.requested, c.remaining).toStdString(), c.text);
    }
}

TEST(SequenceSaveTest, ANumberOutside16BitsIsAnError) {
    // A stopped run of 32767 frames would be numbered 32768.
    EXPECT_THROW(SequenceNumberText(32767, 0), std::overflow_error);
    EXPECT_THROW(SequenceNumberText(1, -32768), std::overflow_error);
    EXPECT_THROW(SequenceNumberText(-32768, 2), std::overflow_error);
}

TEST(SequenceSaveTest, PathIsDirectorySlashBaseNumberBmp) {
    const struct {
        std::int16_t requested;
        std::int16_t remaining;
        std::string dir;
        QString base;
        std::string path;
    } cases[] = {
        {3, 3, "/data/frames", "image", "/data/frames/image001.bmp"},
        {20, 11, "/data/frames", "image", "/data/frames/image010.bmp"},
        {3, 3, "/data/frames", "", "/data/frames/001.bmp"},
        {3, 3, "/data/frames/", "m31 ", "/data/frames//m31 001.bmp"},
        {3, 3, "/", "image", "//image001.bmp"},
        {3, 3, "rel dir", " .x", "rel dir/ .x001.bmp"},
        {3, 3, "/d", "...", "/d/...001.bmp"},
        {3, 3, "/d", "Mond\u00e4", "/d/Mond\u00e4001.bmp"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(SequenceFramePath(c.requested, c.remaining, c.dir, c.base).string(), c.path);
    }
}

TEST(SequenceSaveTest, ABaseNameThatWouldLeaveTheDirectoryIsRefused) {
    const QString refused[] = {"../image", "sub/image", "/etc/x", QString(QChar(0)) + "x"};
    for (const QString& base : refused) {
        SCOPED_TRACE(base.toStdString());
        const FileError e =
            test::ThrownFileError([&] { SequenceFramePath(1, 1, "/data/frames", base); });
        EXPECT_EQ(e.file().string().rfind("/data/frames/", 0), 0u) << e.file();
    }
}

TEST(SequenceSaveTest, AnUnsetOrBrokenDirectoryIsRefused) {
    EXPECT_THROW(SequenceFramePath(1, 1, "", "image"), FileError);
    EXPECT_THROW(SequenceFramePath(1, 1, std::string("/tmp\0/x", 7), "image"), FileError);
}

class SequenceSaveFileTest : public test::TempDirTest {
protected:
    static QImage picture(QRgb colour) {
        QImage image(640, 480, QImage::Format_RGB888);
        image.fill(colour);
        return image;
    }
};

TEST_F(SequenceSaveFileTest, SavesTheViewersPictureAsA24BitBmp) {
    const fs::path path = SaveSequenceFrame(3, 3, dir.string(), "image", picture(qRgb(10, 20, 30)));
    EXPECT_EQ(path, dir / "image001.bmp");
    EXPECT_EQ(fs::file_size(path), 921654u);
    const QImage back = LoadPicture(path);
    EXPECT_EQ(back.size(), QSize(640, 480));
    EXPECT_EQ(back.pixel(320, 240), qRgb(10, 20, 30));
}

TEST_F(SequenceSaveFileTest, ALaterRunOverwritesTheSameNumber) {
    SaveSequenceFrame(2, 2, dir.string(), "image", picture(qRgb(255, 0, 0)));
    SaveSequenceFrame(2, 2, dir.string(), "image", picture(qRgb(0, 0, 255)));
    EXPECT_EQ(LoadPicture(dir / "image001.bmp").pixel(0, 0), qRgb(0, 0, 255));
    EXPECT_EQ(entries(), 1u);
}

TEST_F(SequenceSaveFileTest, AnyBaseNameWithoutASlashIsAFileInTheSaveDirectory) {
    const struct {
        QString base;
        std::string file; // in the save directory; empty: the file system refuses the name
    } cases[] = {
        {".", ".001.bmp"},
        {"..", "..001.bmp"},
        // Up to the longest name the file system takes, whatever a temporary name adds.
        {QString(248, QLatin1Char('m')), std::string(248, 'm') + "001.bmp"},
        {QString(249, QLatin1Char('m')), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.base.left(8).toStdString());
        test::ScratchDir scratch;
        fs::create_directory(scratch / "saved");
        const std::string saveDir = (scratch / "saved").string();
        if (c.file.empty()) {
            const FileError e = test::ThrownFileError(
                [&] { SaveSequenceFrame(1, 1, saveDir, c.base, picture(qRgb(1, 2, 3))); });
            EXPECT_EQ(e.file().parent_path(), scratch / "saved");
        } else {
            EXPECT_EQ(SaveSequenceFrame(1, 1, saveDir, c.base, picture(qRgb(1, 2, 3))),
                      scratch / "saved" / c.file);
            EXPECT_EQ(fs::file_size(scratch / "saved" / c.file), 921654u);
        }
        EXPECT_EQ(scratch.entries(), 1u) << "nothing written beside the save directory";
        EXPECT_EQ(std::distance(fs::directory_iterator(scratch / "saved"), {}),
                  c.file.empty() ? 0 : 1);
    }
}

TEST_F(SequenceSaveFileTest, FailuresNameThePathAndWriteNothing) {
    const std::string missing = (dir / "no such dir").string();
    const FileError e = test::ThrownFileError(
        [&] { SaveSequenceFrame(1, 1, missing, "image", picture(qRgb(1, 2, 3))); });
    EXPECT_EQ(e.file(), fs::path(missing + "/image001.bmp"));

    EXPECT_THROW(SaveSequenceFrame(1, 1, dir.string(), "../image", picture(qRgb(1, 2, 3))),
                 FileError);
    EXPECT_FALSE(fs::exists(dir.parent_path() / "image001.bmp"));

    EXPECT_THROW(SaveSequenceFrame(1, 1, dir.string(), "image", QImage()), FileError);
    EXPECT_EQ(entries(), 0u);
}

} // namespace
} // namespace lumenvale
