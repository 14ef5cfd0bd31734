#include <csignal>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include <sys/resource.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "common/atomic_file.h"
#include "test_support.h"

using namespace astrelon;
namespace fs = std::filesystem;

namespace {

std::set<std::string> Entries(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(folder))
    names.insert(e.path().filename().string());
  return names;
}

std::string ReadText(const std::string& path) {
  auto bytes = test::ReadAll(path);
  return std::string(bytes.begin(), bytes.end());
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

// Limits the size of files this process may write, so that a write fails the
// way it does on a full disk (EFBIG instead of ENOSPC).
class FileSizeLimit {
public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lim = old_;
    lim.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lim);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, oldHandler_);
  }

private:
  rlimit old_{};
  void (*oldHandler_)(int) = nullptr;
};

}  // namespace

TEST(AtomicFile, ReplacesContentAndKeepsPermissions) {
  test::TempDir dir;
  const std::string path = dir.file("astrelon.ini");
  test::WriteText(path, "old content that is longer than the new one");
  chmod(path.c_str(), 0640);

  std::string error = "stale";
  EXPECT_TRUE(WriteFileAtomic(path, "new", &error));
  EXPECT_EQ(error, "");
  EXPECT_EQ(ReadText(path), "new");
  EXPECT_EQ(ModeOf(path), 0640u);
  EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"astrelon.ini"});
}

TEST(AtomicFile, NewFileGetsDefaultPermissions) {
  test::TempDir dir;
  const mode_t mask = umask(027);
  const std::string path = dir.file("new.txt");
  TAtomicFile file;
  ASSERT_TRUE(file.Open(path));
  const std::byte bytes[] = {std::byte{1}, std::byte{0}, std::byte{255}};
  EXPECT_TRUE(file.Write(std::span<const std::byte>(bytes)));
  EXPECT_TRUE(file.Write(std::string_view("tail")));
  EXPECT_FALSE(fs::exists(path));  // nothing visible before the commit
  EXPECT_TRUE(file.Commit());
  umask(mask);
  EXPECT_EQ(ModeOf(path), 0640u);
  EXPECT_EQ(ReadText(path), std::string("\x01\x00\xFFtail", 7));
}

TEST(AtomicFile, MissingFolderFailsCleanly) {
  test::TempDir dir;
  const std::string path = dir.file("no-such-folder/file.txt");
  std::string error;
  EXPECT_FALSE(WriteFileAtomic(path, "data", &error));
  EXPECT_NE(error.find("no-such-folder/file.txt"), std::string::npos) << error;
  EXPECT_TRUE(Entries(dir.path()).empty());
}

TEST(AtomicFile, TargetThatIsAFolderIsRefused) {
  test::TempDir dir;
  const std::string path = dir.file("sub");
  fs::create_directory(path);
  test::WriteText(dir.file("sub/keep.txt"), "keep");
  std::string error;
  EXPECT_FALSE(WriteFileAtomic(path, "data", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(fs::is_directory(path));
  EXPECT_EQ(ReadText(dir.file("sub/keep.txt")), "keep");
  EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"sub"});
  EXPECT_FALSE(WriteFileAtomic(dir.file("sub/"), "data"));
}

TEST(AtomicFile, FailedWriteLeavesTheOldFile) {
  test::TempDir dir;
  const std::string path = dir.file("image.fit");
  test::WriteText(path, "old");
  {
    FileSizeLimit limit(4096);
    TAtomicFile file;
    ASSERT_TRUE(file.Open(path));
    EXPECT_FALSE(file.Write(std::string(64 * 1024, 'x')));
    EXPECT_NE(file.Error().find("image.fit"), std::string::npos);
    EXPECT_FALSE(file.Commit());  // nothing left to commit
  }
  EXPECT_EQ(ReadText(path), "old");
  EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"image.fit"});
}

TEST(AtomicFile, FailedRenameLeavesNoTemporaryFile) {
  test::TempDir dir;
  const std::string path = dir.file("target");
  TAtomicFile file;
  ASSERT_TRUE(file.Open(path));
  ASSERT_TRUE(file.Write(std::string_view("data")));
  // The target turns into a folder that is not empty before the commit.
  fs::create_directory(path);
  test::WriteText(dir.file("target/inside"), "x");
  EXPECT_FALSE(file.Commit());
  EXPECT_FALSE(file.Error().empty());
  EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"target"});
}

TEST(AtomicFile, AbandonedWriteLeavesTheOldFile) {
  test::TempDir dir;
  const std::string path = dir.file("batch.txt");
  test::WriteText(path, "old");
  {
    TAtomicFile file;
    ASSERT_TRUE(file.Open(path));
    ASSERT_TRUE(file.Write(std::string_view("half written")));
    EXPECT_EQ(Entries(dir.path()).size(), 2u);  // the temporary file is there
  }
  EXPECT_EQ(ReadText(path), "old");
  EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"batch.txt"});

  TAtomicFile unopened;
  EXPECT_FALSE(unopened.Write(std::string_view("x")));
  EXPECT_FALSE(unopened.Commit());
}

TEST(AtomicFile, MappedWriteReplacesOrLeavesTheFile) {
  test::TempDir dir;
  const std::string path = dir.file("image.fit");
  test::WriteText(path, "old");
  {
    // Abandoned: the old file stays and the temporary one goes.
    TAtomicFile file;
    ASSERT_TRUE(file.Open(path));
    const std::span<std::byte> map = file.MapForWriting(5000);
    if (map.empty()) GTEST_SKIP() << "the temporary folder's file system cannot be mapped";
    std::memset(map.data(), 'x', map.size());
  }
  EXPECT_EQ(ReadText(path), "old");
  EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"image.fit"});
  {
    TAtomicFile file;
    ASSERT_TRUE(file.Open(path));
    const std::span<std::byte> map = file.MapForWriting(5000);
    ASSERT_EQ(map.size(), 5000u);
    for (size_t i = 0; i < 4000; ++i) map[i] = std::byte('a' + i % 26);  // the rest stays zero
    ASSERT_TRUE(file.Commit());
  }
  const std::string text = ReadText(path);
  ASSERT_EQ(text.size(), 5000u);
  EXPECT_EQ(text.substr(0, 3), "abc");
  EXPECT_EQ(text[3999], char('a' + 3999 % 26));
  EXPECT_EQ(text.substr(4000), std::string(1000, '\0'));
  EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"image.fit"});
}

TEST(AtomicFile, MappingMoreThanTheDiskTakesFails) {
  test::TempDir dir;
  const std::string path = dir.file("image.fit");
  test::WriteText(path, "old");
  {
    FileSizeLimit limit(1 << 16);
    TAtomicFile file;
    ASSERT_TRUE(file.Open(path));
    EXPECT_TRUE(file.MapForWriting(1 << 20).empty());
    // Space refused is an error (the write fails); a file system that cannot map leaves the file open.
    if (!file.IsOpen()) {
      EXPECT_NE(file.Error(), "");
    }
  }
  EXPECT_EQ(ReadText(path), "old");
  EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"image.fit"});
}

TEST(AtomicFile, SymbolicLinkIsFollowed) {
  test::TempDir dir;
  const std::string real = dir.file("real.ini");
  const std::string link = dir.file("link.ini");
  test::WriteText(real, "old");
  fs::create_symlink(real, link);
  EXPECT_TRUE(WriteFileAtomic(link, "new"));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadText(real), "new");
}
