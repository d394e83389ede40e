#include "framework/Bitmap.h"
#include "framework/DialogHooks.h"
#include "framework/Exception.h"
#include "framework/Picture.h"
#include "framework/Stream.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

// A small family of graphic classes to exercise the registry with.
class TFakeGraphic : public TBitmap {
    KAVREL_DECLARE_GRAPHIC_CLASS(TFakeGraphic)
public:
    void LoadStream(TStream& stream) override
    {
        if (stream.ReadByte() != 'F')
            throw Exception("Not a fake file.");
        SetPixelFormat(pf8bit);
        SetSize(stream.ReadByte(), 1);
    }
};
KAVREL_DEFINE_GRAPHIC_CLASS(TFakeGraphic, TBitmap)

class TDerivedFakeGraphic : public TFakeGraphic {
    KAVREL_DECLARE_GRAPHIC_CLASS(TDerivedFakeGraphic)
};
KAVREL_DEFINE_GRAPHIC_CLASS(TDerivedFakeGraphic, TFakeGraphic)

class TOtherGraphic : public TBitmap {
    KAVREL_DECLARE_GRAPHIC_CLASS(TOtherGraphic)
};
KAVREL_DEFINE_GRAPHIC_CLASS(TOtherGraphic, TBitmap)

TEST(FormatRegistryTest, LookupLowersAndPrefersTheNewestEntry)
{
    TFileFormatsList list;
    list.Add("FAK", "Fake", TFakeGraphic::StaticClass());
    list.Add("fak", "Derived", TDerivedFakeGraphic::StaticClass());
    EXPECT_EQ(list.Entries()[0].extension, "fak");
    EXPECT_EQ(list.FindExt("FaK"), &TDerivedFakeGraphic::StaticClass());
    EXPECT_EQ(list.FindExt("bmp"), nullptr);
    EXPECT_EQ(list.FindExt(""), nullptr);
}

TEST(FormatRegistryTest, UnregisteringAClassRemovesItsDescendantsToo)
{
    TFileFormatsList list;
    list.Add("a", "A", TFakeGraphic::StaticClass());
    list.Add("b", "B", TDerivedFakeGraphic::StaticClass());
    list.Add("c", "C", TOtherGraphic::StaticClass());
    list.Add("d", "D", TBitmap::StaticClass());
    list.Remove(TFakeGraphic::StaticClass());
    ASSERT_EQ(list.Entries().size(), 2u);
    EXPECT_EQ(list.FindExt("c"), &TOtherGraphic::StaticClass());
    EXPECT_EQ(list.FindExt("d"), &TBitmap::StaticClass());
}

TEST(FormatRegistryTest, FilterListsMatchingClassesNewestFirst)
{
    TFileFormatsList list;
    list.Add("one", "First", TFakeGraphic::StaticClass());
    list.Add("", "No extension", TFakeGraphic::StaticClass());
    list.Add("two", "Second", TDerivedFakeGraphic::StaticClass());
    list.Add("xyz", "Unrelated", TOtherGraphic::StaticClass());
    EXPECT_EQ(GraphicFilter(list, TFakeGraphic::StaticClass()),
              "全部 (*.two;*.one)|*.two;*.one|Second (*.two)|*.two|First (*.one)|*.one");
    // One kept entry: no "all" entry.
    EXPECT_EQ(GraphicFilter(list, TDerivedFakeGraphic::StaticClass()), "Second (*.two)|*.two");
    TFileFormatsList empty;
    EXPECT_EQ(GraphicFilter(empty, TBitmap::StaticClass()), "");
    // Every class here derives from TBitmap.
    EXPECT_EQ(GraphicFilter(list, TBitmap::StaticClass()).rfind("全部 (*.xyz;*.two;*.one)|", 0), 0u);
}

TEST(FormatRegistryTest, DefaultExtensionNeedsTheExactClass)
{
    TFileFormatsList list;
    list.Add("one", "First", TFakeGraphic::StaticClass());
    list.Add("two", "Second", TDerivedFakeGraphic::StaticClass());
    list.Add("three", "Third", TFakeGraphic::StaticClass());
    EXPECT_EQ(GraphicExtension(list, TFakeGraphic::StaticClass()), "three");
    EXPECT_EQ(GraphicExtension(list, TDerivedFakeGraphic::StaticClass()), "two");
    EXPECT_EQ(GraphicExtension(list, TBitmap::StaticClass()), "");
}

class PictureTest : public testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("kavrel-picture-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        TPicture::RegisterFormat("fake", "Fake", TFakeGraphic::StaticClass());
    }
    void TearDown() override
    {
        TPicture::UnregisterFormatClass(TFakeGraphic::StaticClass());
        fs::remove_all(dir_);
    }
    std::string Write(const std::string& name, const std::string& bytes)
    {
        const fs::path path = dir_ / name;
        TFileStream s(path.string(), TFileStream::Mode::Create);
        s.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
        return path.string();
    }
    fs::path dir_;
};

TEST_F(PictureTest, LoadsByExtensionInAnyCase)
{
    TPicture p;
    p.LoadFromFile(Write("a.FAKE", "F\x05"));
    ASSERT_NE(p.Graphic(), nullptr);
    EXPECT_EQ(p.Graphic()->ClassType().name, std::string("TFakeGraphic"));
    EXPECT_EQ(p.Width(), 5);
}

TEST_F(PictureTest, UnknownExtensionsNameTheExtensionAsWritten)
{
    TPicture p;
    try {
        p.LoadFromFile(Write("a.XyZ", "F\x01"));
        FAIL();
    } catch (const EInvalidGraphic& e) {
        EXPECT_EQ(e.Message(), "未知的图象文件扩展名 (.XyZ)");
    }
    try {
        p.LoadFromFile(Write("noextension", "F\x01"));
        FAIL();
    } catch (const EInvalidGraphic& e) {
        EXPECT_EQ(e.Message(), "未知的图象文件扩展名 (.)");
    }
    EXPECT_EQ(FileExtension("/a.b/c"), "");
    EXPECT_EQ(FileExtension("/a/c.tar.gz"), "gz");
}

TEST_F(PictureTest, AFailedLoadKeepsWhatThePictureHeld)
{
    TPicture p;
    p.LoadFromFile(Write("good.fake", "F\x03"));
    EXPECT_THROW(p.LoadFromFile(Write("bad.fake", "G")), Exception);
    EXPECT_THROW(p.LoadFromFile(Write("short.fake", "F")), EReadError);
    try {
        p.LoadFromFile((dir_ / "missing.fake").string());
        FAIL();
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(), "Cannot open file " + (dir_ / "missing.fake").string());
    }
    ASSERT_NE(p.Graphic(), nullptr);
    EXPECT_EQ(p.Width(), 3);
}

TEST_F(PictureTest, AssignStoresACopyOfTheSameClass)
{
    TFakeGraphic source;
    source.SetPixelFormat(pf8bit);
    source.SetSize(2, 2);
    TPicture p;
    p.SetGraphic(&source);
    source.SetSize(9, 9);
    EXPECT_EQ(p.Width(), 2);
    EXPECT_EQ(p.Graphic()->ClassType().name, std::string("TFakeGraphic"));
    p.SetGraphic(nullptr);
    EXPECT_EQ(p.Graphic(), nullptr);
}

TEST_F(PictureTest, SavingAnEmptyPictureCreatesNoFile)
{
    TPicture p;
    const fs::path target = dir_ / "empty.bmp";
    p.SaveToFile(target.string());
    EXPECT_FALSE(fs::exists(target));

    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(1, 1);
    p.SetGraphic(&b);
    p.SaveToFile(target.string());
    EXPECT_EQ(fs::file_size(target), 14u + 40 + 4);
}

TEST(DialogHooksTest, DefaultsAreSilentAndAnswerOk)
{
    EXPECT_TRUE(WarningOkCancel("Convert?"));
    MessageBeep();
    static std::string asked;
    static int beeps = 0;
    SetWarningHandler([](const std::string& text) {
        asked = text;
        return false;
    });
    SetBeepHandler([] { ++beeps; });
    EXPECT_FALSE(WarningOkCancel("Convert?"));
    MessageBeep();
    EXPECT_EQ(asked, "Convert?");
    EXPECT_EQ(beeps, 1);
    SetWarningHandler(nullptr);
    SetBeepHandler(nullptr);
}

}  // namespace
