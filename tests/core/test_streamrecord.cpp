// The notes of uploads that let a resume tell one image from another.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/streamrecord.h"
#include "support/settings_files.h"

namespace {

using lentar::CheckResume;
using lentar::ForgetStream;
using lentar::ImageDigest;
using lentar::NoteConfirmedBlocks;
using lentar::NoteStreamStart;
using lentar::NoteUploadStart;
using lentar::UploadNote;
using lentar::ResumeCheck;
using lentar::StreamRecordPath;
using lentar::testing::TempDir;

std::vector<uint8_t> Image(size_t size, uint8_t seed) {
  std::vector<uint8_t> image(size);
  for (size_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>(i * 5 + seed);
  return image;
}

TEST(StreamRecord, LivesBesideTheSettings) {
  EXPECT_EQ(StreamRecordPath("/opt/lentar/lentar.ini"), "/opt/lentar/lentar-streams.ini");
}

TEST(StreamRecord, DigestTellsImagesOfTheSameSizeApart) {
  const auto a = Image(900, 1), b = Image(900, 2);
  EXPECT_NE(ImageDigest(a.data(), a.size()), ImageDigest(b.data(), b.size()));
  EXPECT_EQ(ImageDigest(a.data(), a.size()), ImageDigest(a.data(), a.size()));
  EXPECT_EQ(ImageDigest(a.data(), a.size()).size(), 16u);
}

TEST(StreamRecord, OnlyTheNotedImageMayBeResumed) {
  TempDir dir;
  const std::string file = dir / "lentar-streams.ini";
  const auto a = Image(900, 1), b = Image(900, 2), shorter = Image(899, 1);
  const std::string port = "/dev/ttyUSB0", other = "socket://host:1";
  EXPECT_EQ(CheckResume(file, port, 0, a.data(), a.size()), ResumeCheck::Unknown) << "no file";
  ASSERT_TRUE(NoteStreamStart(file, port, 0, a.data(), a.size()));
  ASSERT_TRUE(NoteStreamStart(file, other, 1, b.data(), b.size()));

  const struct {
    const std::string& port;
    int buffer;
    const std::vector<uint8_t>& image;
    ResumeCheck expected;
  } cases[] = {
      {port, 0, a, ResumeCheck::Same},
      {port, 0, b, ResumeCheck::Different},
      {port, 0, shorter, ResumeCheck::Different},
      {port, 1, a, ResumeCheck::Unknown},
      {other, 1, b, ResumeCheck::Same},
      {other, 1, a, ResumeCheck::Different},
      {other, 0, b, ResumeCheck::Unknown},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CheckResume(file, c.port, c.buffer, c.image.data(), c.image.size()), c.expected)
        << c.port << " buffer " << c.buffer << " image of " << c.image.size();

  // A new start replaces the note; a completed upload removes it.
  ASSERT_TRUE(NoteStreamStart(file, port, 0, b.data(), b.size()));
  EXPECT_EQ(CheckResume(file, port, 0, b.data(), b.size()), ResumeCheck::Same);
  ASSERT_TRUE(ForgetStream(file, port, 0));
  EXPECT_EQ(CheckResume(file, port, 0, b.data(), b.size()), ResumeCheck::Unknown);
  EXPECT_EQ(CheckResume(file, other, 1, b.data(), b.size()), ResumeCheck::Same);
}

// A direct upload's note also keeps the blocks the board confirmed and
// whether the buffer is to be started at the end; a streamed note has no
// count (its board's map tells).
TEST(StreamRecord, AnAcknowledgedUploadKeepsItsConfirmedBlocksAndItsStart) {
  TempDir dir;
  const std::string file = dir / "lentar-streams.ini";
  const auto a = Image(900, 1);
  const std::string port = "/dev/ttyUSB0";
  EXPECT_FALSE(NoteConfirmedBlocks(file, port, 1, 3)) << "nothing noted";
  ASSERT_TRUE(NoteUploadStart(file, port, 1, a.data(), a.size(), UploadNote{true, 0, true}));
  ASSERT_TRUE(NoteConfirmedBlocks(file, port, 1, 4));
  UploadNote note;
  ASSERT_EQ(CheckResume(file, port, 1, a.data(), a.size(), &note), ResumeCheck::Same);
  EXPECT_TRUE(note.acknowledged);
  EXPECT_EQ(note.confirmed, 4u);
  EXPECT_TRUE(note.start);

  ASSERT_TRUE(NoteStreamStart(file, port, 1, a.data(), a.size()));
  EXPECT_FALSE(NoteConfirmedBlocks(file, port, 1, 5)) << "a streamed note has no count";
  ASSERT_EQ(CheckResume(file, port, 1, a.data(), a.size(), &note), ResumeCheck::Same);
  EXPECT_FALSE(note.acknowledged);
  EXPECT_FALSE(note.start);
}

}  // namespace
