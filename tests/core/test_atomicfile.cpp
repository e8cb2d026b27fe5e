// A file replaced piece by piece: the old content stays under the name until
// the new one is complete and committed.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/atomicfile.h"
#include "support/settings_files.h"

namespace lentar::testing {
namespace {

TEST(AtomicFileWriterTest, NewContentAppearsWholeAtCommitThroughALink) {
  TempDir dir;
  const std::string path = dir / "anim.gif";
  ASSERT_TRUE(WriteFileAtomically(path, "old"));
  std::filesystem::create_symlink(path, dir / "link.gif");

  AtomicFileWriter writer;
  ASSERT_TRUE(writer.Open(dir / "link.gif"));
  ASSERT_TRUE(writer.Write("GIF89a"));
  ASSERT_TRUE(writer.Write(std::string("\0\x01", 2)));
  EXPECT_EQ(FileBytes(path), "old");  // nothing visible half-way
  ASSERT_TRUE(writer.Commit());
  EXPECT_EQ(FileBytes(path), std::string("GIF89a\0\x01", 8));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.gif"));
  EXPECT_EQ(FileCount(dir.Path()), 2);  // the file and its link, no temporary
  EXPECT_FALSE(writer.Write("more"));   // a committed writer is closed
}

TEST(AtomicFileWriterTest, AbandonedOrFailedWritesKeepTheOldFile) {
  TempDir dir;
  const std::string path = dir / "frames.raw";
  ASSERT_TRUE(WriteFileAtomically(path, "old"));
  {
    AtomicFileWriter abandoned;  // an interrupted run
    ASSERT_TRUE(abandoned.Open(path));
    ASSERT_TRUE(abandoned.Write("half"));
  }
  EXPECT_EQ(FileBytes(path), "old");
  EXPECT_EQ(FileCount(dir.Path()), 1);

  AtomicFileWriter full;
  ASSERT_TRUE(full.Open(path));
  {
    FileSizeLimit limit(20);  // the disk fills up halfway
    EXPECT_FALSE(full.Write(std::string(1000, 'n')));
  }
  EXPECT_FALSE(full.Write("x"));  // the content has a hole: no later piece is taken
  EXPECT_FALSE(full.Commit());
  EXPECT_EQ(FileBytes(path), "old");
  EXPECT_EQ(FileCount(dir.Path()), 1);

  AtomicFileWriter refused;
  EXPECT_FALSE(refused.Open(dir.Path()));  // a folder is never replaced
  EXPECT_FALSE(refused.Open(dir / "missing/frames.raw"));
  EXPECT_FALSE(refused.Commit());
}

}  // namespace
}  // namespace lentar::testing
