// Where every writer puts its file: a write-protected target is refused and left
// as it was, a name near the file-name limit is written, a dangling symbolic
// link leads to the file it names, and a replaced file keeps its group.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "core/settings_file.h"
#include "loader_fixture.h"
#include "store/display/display_bitmap.h"
#include "store/fits/fits_writer.h"
#include "store/pictures/bmp_codec.h"
#include "store/pictures/jpeg_writer.h"
#include "store/pictures/png_writer.h"
#include "store/tiff/tiff_writer.h"

namespace astrelon::test {
namespace {

namespace fs = std::filesystem;

struct TWriter {
  const char* Name;
  const char* Extension;
  std::function<bool(const std::string&)> Write;
};

class TargetFilesTest : public LoaderTest {
protected:
  void SetUp() override {
    LoaderTest::SetUp();
    MakeImage(1, 3, 2, {{0, 100, 200, 300, 400, 500}});
    bitmap_.Resize(3, 2, TBitmapFormat::Bgr24);
    for (size_t i = 0; i < bitmap_.Pixels.size(); ++i) bitmap_.Pixels[i] = uint8_t(i * 17);
  }

  std::vector<TWriter> Writers() {
    auto tiff = [](const std::string& f) {
      try {
        SaveTiffImage(1, 1, true, 0.0, 500.0, f);
        return true;
      } catch (const TTiffError&) {
        return false;
      }
    };
    return {
        {"FITS", ".fit", [](const std::string& f) { return SaveFits(1, -32, f, false, false); }},
        {"TIFF", ".tif", tiff},
        {"BMP", ".bmp", [this](const std::string& f) { return SaveBmpFile(bitmap_, f); }},
        {"JPEG", ".jpg", [this](const std::string& f) { return SaveJpegFile(bitmap_, 90, false, f); }},
        {"PNG", ".png", [this](const std::string& f) { return SavePngFile(bitmap_, 5, false, f); }},
        {"settings", ".ini", [](const std::string& f) { return WriteSettingsFile(f); }},
    };
  }

  TDisplayBitmap bitmap_;
};

std::string ReadText(const std::string& path) {
  const std::vector<unsigned char> bytes = ReadAll(path);
  return std::string(bytes.begin(), bytes.end());
}

TEST_F(TargetFilesTest, WriteProtectedTargetsAreLeftAlone) {
  for (const TWriter& w : Writers()) {
    SCOPED_TRACE(w.Name);
    const std::string f = dir.file(std::string("master") + w.Extension);
    WriteText(f, "keep me");
    ASSERT_EQ(chmod(f.c_str(), 0444), 0);
    EXPECT_FALSE(w.Write(f));
    EXPECT_EQ(ReadText(f), "keep me");
    struct stat st {};
    ASSERT_EQ(stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);  // no leftovers
    fs::remove(f);
  }
}

// Names close to the 255-byte limit of a file name: a temporary name made by
// appending to them would be too long.
TEST_F(TargetFilesTest, LongNamesAreWritten) {
  for (const TWriter& w : Writers()) {
    for (size_t length : {240, 250}) {
      SCOPED_TRACE(std::string(w.Name) + " " + std::to_string(length));
      const std::string name = std::string(length - std::strlen(w.Extension), 'n') + w.Extension;
      const std::string f = dir.file(name);
      ASSERT_TRUE(w.Write(f));
      EXPECT_GT(fs::file_size(f), 0u);
      ASSERT_TRUE(w.Write(f));  // and replaced
      EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
      fs::remove(f);
    }
  }
}

TEST_F(TargetFilesTest, DanglingLinksLeadToTheFileTheyName) {
  for (const TWriter& w : Writers()) {
    SCOPED_TRACE(w.Name);
    fs::create_directory(dir.path() / "real");
    const std::string link = dir.file(std::string("link") + w.Extension);
    fs::create_symlink(fs::path("real") / (std::string("target") + w.Extension), link);
    ASSERT_TRUE(w.Write(link));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_GT(fs::file_size(dir.path() / "real" / (std::string("target") + w.Extension)), 0u);
    // A link into a folder that does not exist is refused and stays.
    const std::string lost = dir.file(std::string("lost") + w.Extension);
    fs::create_symlink(fs::path("nowhere") / "x", lost);
    EXPECT_FALSE(w.Write(lost));
    EXPECT_TRUE(fs::is_symlink(lost));
    fs::remove_all(dir.path() / "real");
    fs::remove(link);
    fs::remove(lost);
  }
}

// A file in a folder shared by a group keeps that group when it is replaced.
TEST_F(TargetFilesTest, ReplacedFilesKeepTheirGroup) {
  const gid_t group = 4242;
  for (const TWriter& w : Writers()) {
    SCOPED_TRACE(w.Name);
    const std::string f = dir.file(std::string("shared") + w.Extension);
    WriteText(f, "old");
    if (chown(f.c_str(), geteuid(), group) != 0) GTEST_SKIP() << "cannot give a file another group";
    ASSERT_TRUE(w.Write(f));
    struct stat st {};
    ASSERT_EQ(stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_gid, group);
    fs::remove(f);
  }
}

}  // namespace
}  // namespace astrelon::test
