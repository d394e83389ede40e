// Saving a picture to a file: always through a temporary file beside the target, so that no failure
// (a write error, a full disk, a read-only file or folder) leaves a damaged or truncated file; the
// readers of formats that are not written save as Windows bitmaps.
#include "codecs/PCDGraphic.h"
#include "codecs/PCXGraphic.h"
#include "codecs/TIFFGraphic.h"
#include "codecs/TargaGraphic.h"
#include "framework/AtomicFile.h"
#include "framework/Bitmap.h"
#include "framework/DialogHooks.h"
#include "framework/Exception.h"
#include "framework/Picture.h"
#include "framework/Stream.h"
#include "tests/support/Permissions.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

// Writes part of a picture, then fails as a full disk would.
class TFailingGraphic : public TBitmap {
    KAVREL_DECLARE_GRAPHIC_CLASS(TFailingGraphic)
public:
    void SaveStream(TStream& stream) override
    {
        const std::vector<uint8_t> half(1000, 0x42);
        stream.WriteBuffer(half.data(), static_cast<int64_t>(half.size()));
        throw EWriteError();
    }
};
KAVREL_DEFINE_GRAPHIC_CLASS(TFailingGraphic, TBitmap)

// A graphic whose writer writes nothing.
class TSilentGraphic : public TGraphic {
    KAVREL_DECLARE_GRAPHIC_CLASS(TSilentGraphic)
public:
    void LoadStream(TStream&) override { }
    void SaveStream(TStream&) override { }
    bool Empty() const override { return false; }
    int Width() const override { return 1; }
    int Height() const override { return 1; }
};
KAVREL_DEFINE_GRAPHIC_CLASS(TSilentGraphic, TGraphic)

template <typename Graphic> Graphic Gradient(int width, int height)
{
    Graphic bitmap;
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = bitmap.ScanLine(y) + 3 * x;
            p[0] = static_cast<uint8_t>(x * 7);
            p[1] = static_cast<uint8_t>(y * 13);
            p[2] = static_cast<uint8_t>(x ^ y);
        }
    return bitmap;
}

class SaveToFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("kavrel-save-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override
    {
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir_);
    }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    std::string WriteOld(const std::string& name) const
    {
        const std::string path = Path(name);
        std::ofstream(path, std::ios::binary) << "the old picture";
        return path;
    }

    static std::string Contents(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    size_t FilesInFolder() const
    {
        return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
    }

    fs::path dir_;
};

template <typename Graphic> void ExpectSavedAsWindowsBitmap(const std::string& path)
{
    Graphic picture = Gradient<Graphic>(5, 3);
    TMemoryStream own;
    picture.SaveStream(own);
    EXPECT_EQ(own.Size(), 0) << "the reader's own writer stays silent";

    picture.SaveToFile(path);
    TBitmap back;
    back.LoadFile(path);
    ASSERT_EQ(back.Width(), 5);
    ASSERT_EQ(back.Height(), 3);
    EXPECT_EQ(back.PixelFormat(), pf24bit);
    for (int y = 0; y < 3; ++y)
        EXPECT_EQ(0, std::memcmp(back.ScanLine(y), picture.ScanLine(y), 15)) << "row " << y;
}

TEST_F(SaveToFileTest, ReadersThatDoNotWriteTheirFormatSaveAsWindowsBitmaps)
{
    ExpectSavedAsWindowsBitmap<TTIFFGraphic>(Path("picture.tif"));
    ExpectSavedAsWindowsBitmap<TPCXGraphic>(Path("picture.pcx"));
    ExpectSavedAsWindowsBitmap<TPCDGraphic>(Path("picture.pcd"));
    EXPECT_EQ(Contents(Path("picture.tif")).substr(0, 2), "BM");
    // Through the picture container as well, since that is how the program saves.
    TPicture picture;
    const TTIFFGraphic tiff = Gradient<TTIFFGraphic>(2, 2);
    picture.SetGraphic(&tiff);
    picture.SaveToFile(Path("container.tiff"));
    EXPECT_EQ(fs::file_size(Path("container.tiff")), 14u + 40 + 2 * 8);
}

TEST_F(SaveToFileTest, AFailingWriteLeavesTheOldFileAndNothingElse)
{
    const std::string target = WriteOld("picture.bmp");
    TFailingGraphic failing = Gradient<TFailingGraphic>(4, 4);
    EXPECT_THROW(failing.SaveToFile(target), EWriteError);
    EXPECT_EQ(Contents(target), "the old picture");
    EXPECT_EQ(FilesInFolder(), 1u);

    // A new name: no file at all.
    EXPECT_THROW(failing.SaveToFile(Path("new.bmp")), EWriteError);
    EXPECT_FALSE(fs::exists(Path("new.bmp")));
    EXPECT_EQ(FilesInFolder(), 1u);
}

TEST_F(SaveToFileTest, AFullDiskLeavesTheOldFile)
{
    // The file size limit makes write() fail as a full disk does.
    const std::string target = WriteOld("big.bmp");
    TBitmap big = Gradient<TBitmap>(200, 200);
    struct rlimit saved { };
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = saved;
    limited.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    bool threw = false;
    try {
        TPicture picture;
        picture.SetGraphic(&big);
        picture.SaveToFile(target);
    } catch (const EWriteError&) {
        threw = true;
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_TRUE(threw);
    EXPECT_EQ(Contents(target), "the old picture");
    EXPECT_EQ(FilesInFolder(), 1u);
}

TEST_F(SaveToFileTest, ReadOnlyFilesAndFoldersCannotBeCreated)
{
    ScopedPermissionChecks checks;
    if (!checks.Active())
        GTEST_SKIP() << "permission checks cannot be enforced for this user";
    TBitmap bitmap = Gradient<TBitmap>(3, 3);

    const std::string readOnly = WriteOld("read-only.bmp");
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::group_read);
    try {
        bitmap.SaveToFile(readOnly);
        ADD_FAILURE() << "a read-only file was replaced";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message(), "Cannot create file " + readOnly);
    }
    EXPECT_EQ(Contents(readOnly), "the old picture");

    const std::string inFolder = WriteOld("kept.bmp");
    fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
    try {
        bitmap.SaveToFile(inFolder);
        ADD_FAILURE() << "a file in a read-only folder was replaced";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message(), "Cannot create file " + inFolder);
    }
    EXPECT_THROW(bitmap.SaveToFile(Path("new.bmp")), EFCreateError);
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
    EXPECT_EQ(Contents(inFolder), "the old picture");
    EXPECT_EQ(FilesInFolder(), 2u);
}

TEST_F(SaveToFileTest, NothingWrittenMeansNoFile)
{
    TBitmap empty;
    empty.SaveToFile(Path("empty.bmp"));
    EXPECT_FALSE(fs::exists(Path("empty.bmp")));
    TPicture nothing;
    nothing.SaveToFile(Path("nothing.bmp"));
    EXPECT_FALSE(fs::exists(Path("nothing.bmp")));

    // A writer that writes nothing leaves the old file alone, and a new name gets no empty file.
    const std::string target = WriteOld("silent.bmp");
    TSilentGraphic silent;
    silent.SaveToFile(target);
    EXPECT_EQ(Contents(target), "the old picture");
    silent.SaveToFile(Path("silent-new.bmp"));
    EXPECT_FALSE(fs::exists(Path("silent-new.bmp")));

    // The Targa writer asks before it converts a 1-bit picture; refused, it writes nothing.
    TTargaGraphic twoColours;
    twoColours.SetPixelFormat(pf1bit);
    twoColours.SetSize(8, 2);
    const std::string targa = WriteOld("refused.tga");
    SetWarningHandler([](const std::string&) { return false; });
    twoColours.SaveToFile(targa);
    SetWarningHandler(nullptr);
    EXPECT_EQ(Contents(targa), "the old picture");
    twoColours.SaveToFile(targa); // accepted
    EXPECT_EQ(Contents(targa)[2], 9) << "a run-length compressed, colour-mapped Targa";
    EXPECT_EQ(FilesInFolder(), 2u);
}

TEST_F(SaveToFileTest, TargetsThatAreNotPlainFiles)
{
    TBitmap bitmap = Gradient<TBitmap>(2, 1);

    // A symbolic link stays a link; the file it names gets the picture and keeps its permissions.
    const std::string real = WriteOld("real.bmp");
    fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write);
    fs::create_directory(dir_ / "links");
    fs::create_symlink("../real.bmp", dir_ / "links" / "link.bmp");
    bitmap.SaveToFile(Path("links/link.bmp"));
    EXPECT_TRUE(fs::is_symlink(dir_ / "links" / "link.bmp"));
    EXPECT_EQ(Contents(real).substr(0, 2), "BM");
    EXPECT_EQ(fs::status(real).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);

    // A folder or a pipe is never replaced by a file.
    fs::create_directory(dir_ / "folder.bmp");
    EXPECT_THROW(bitmap.SaveToFile(Path("folder.bmp")), EFCreateError);
    EXPECT_TRUE(fs::is_directory(dir_ / "folder.bmp"));
    ASSERT_EQ(::mkfifo(Path("pipe.bmp").c_str(), 0600), 0);
    EXPECT_THROW(bitmap.SaveToFile(Path("pipe.bmp")), EFCreateError);
    EXPECT_TRUE(fs::is_fifo(dir_ / "pipe.bmp"));

    // A name that nearly fills the folder's name limit still saves.
    const std::string longName = std::string(250, 'n') + ".bmp";
    bitmap.SaveToFile(Path(longName));
    EXPECT_EQ(Contents(Path(longName)).substr(0, 2), "BM");
    EXPECT_EQ(FilesInFolder(), 5u);
}

} // namespace
