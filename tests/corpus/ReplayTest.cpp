// Every sample picture and every fuzz seed, fed to every reader regardless of its extension. Run
// under the sanitizers by scripts/test: a crash, an overrun or a hang fails it.

#include "fuzz/FuzzBody.h"
#include "tests/support/TestData.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

void ReplayFolder(const fs::path& folder)
{
    size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file() || entry.path().extension() == ".pam" || entry.path().filename() == "MANIFEST.tsv")
            continue;
        SCOPED_TRACE(entry.path().string());
        const std::vector<uint8_t> bytes = ReadFileBytes(entry.path());
        LoadThroughEveryReader(bytes.data(), bytes.size());
        ++files;
    }
    EXPECT_GT(files, 0u) << folder;
}

TEST(ReplayTest, SharedSamplesThroughEveryReader)
{
    KAVREL_REQUIRE_TESTDATA(dir);
    ReplayFolder(dir);
}

TEST(ReplayTest, FuzzSeedsThroughEveryReader)
{
    ReplayFolder(fs::path(KAVREL_SOURCE_DIR) / "fuzz" / "seeds");
}

}  // namespace
