// Embedded files: the build step's scrambled objects are written out as
// their sources, once, into private temporary files that the clean-up
// removes; the registry takes objects in any order and paths of any length.
#include "vxu/VXOB_File.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/Paths.h"
#include "vx_log_capture.h"

using platform::Paths;

namespace {

std::string source(const std::string& name) {
  return Paths::readFile(std::string(FLUVANE_TEST_SCRIPTS) + "/" + name).value_or("(missing)");
}

std::string bytesOf(const VXOB_File& file) {
  return std::string(reinterpret_cast<const char*>(file.data()), file.size());
}

TEST(VXOBFile, TheBuildStepsObjectIsWrittenOutAsItsSourceOnce) {
  VXOB_File* file = VXOB_File::get_file_with_filename("embedded_sample.txt");
  ASSERT_NE(file, nullptr);
  const std::string original = source("embedded_sample.txt");
  ASSERT_EQ(file->size(), original.size());

  // Held scrambled with the build's key, which nothing in the tree holds
  // scrambled.
  const std::string key = "fluvane-tests:embedded_sample.txt";
  std::string scrambled = original;
  VXOB_File::xor_crypt(reinterpret_cast<unsigned char*>(scrambled.data()), scrambled.size(),
                       reinterpret_cast<const unsigned char*>(key.data()), key.size());
  EXPECT_EQ(bytesOf(*file), file->unscrambled() ? original : scrambled);

  std::string path = file->write_to_tmpfile();
  EXPECT_EQ(path.rfind(VXOB_tmpDirectory() + "/temp.", 0), 0u);
  EXPECT_EQ(Paths::readFile(path), original);
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_EQ(stat(VXOB_tmpDirectory().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);

  // Again: the same path, the bytes not unscrambled a second time.
  EXPECT_EQ(file->write_to_tmpfile(), path);
  EXPECT_EQ(bytesOf(*file), original);
  // Scrambling the written bytes again gives the stored block back.
  std::string again = *Paths::readFile(path);
  VXOB_File::xor_crypt(reinterpret_cast<unsigned char*>(again.data()), again.size(),
                       reinterpret_cast<const unsigned char*>(key.data()), key.size());
  EXPECT_EQ(again, scrambled);

  // The clean-up removes the file and forgets it; the next write is new.
  VXOB_cleanUpTempfiles();
  EXPECT_FALSE(Paths::exists(path));
  EXPECT_EQ(file->path(), "");
  std::string next = file->write_to_tmpfile();
  EXPECT_EQ(Paths::readFile(next), original);
  VXOB_cleanUpTempfiles();
}

TEST(VXOBFile, RegistryByNameInAnyOrder) {
  EXPECT_EQ(VXOB_File::get_file_with_filename("never-registered.chip"), nullptr);
  EXPECT_EQ(VXOB_File::get_file_with_filename(nullptr), nullptr);
  EXPECT_NE(VXOB_File::get_file_with_filename("iPhone.chip"), nullptr);
  unsigned char a[] = "first", b[] = "second";
  const unsigned char key[] = {7};
  {
    VXOB_File first("replaced.txt", a, 5, key, 1);
    VXOB_File second("replaced.txt", b, 6, key, 1);
    EXPECT_EQ(VXOB_File::get_file_with_filename("replaced.txt"), &second);
  }
  EXPECT_EQ(VXOB_File::get_file_with_filename("replaced.txt"), nullptr);
}

TEST(VXOBFile, AnEmptyKeyScramblesNothingAndDividesNothing) {
  unsigned char data[] = "plain text";
  VXOB_File file("no-key.txt", data, 10, reinterpret_cast<const unsigned char*>(""), 0);
  std::string path = file.write_to_tmpfile();
  EXPECT_EQ(Paths::readFile(path), "plain text");
  VXOB_File::xor_crypt(data, 10, nullptr, 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 10), "plain text");
  VXOB_cleanUpTempfiles();
}

TEST(VXOBFile, PathsLongerThanTheOldBufferAreKeptWhole) {
  const char* before = std::getenv("FLUVANE_HOME");
  std::string home =
      std::string(before) + "/" + std::string(120, 'h') + "/" + std::string(120, 'i');
  setenv("FLUVANE_HOME", home.c_str(), 1);
  unsigned char data[] = {'o', 'k'};
  const unsigned char key[] = {1, 2, 3};
  VXOB_File::xor_crypt(data, 2, key, 3);
  VXOB_File file("long-path.txt", data, 2, key, 3);
  std::string path = file.write_to_tmpfile();
  EXPECT_GT(path.size(), 255u);
  EXPECT_EQ(Paths::readFile(path), "ok");
  VXOB_cleanUpTempfiles();
  EXPECT_FALSE(Paths::exists(path));
  setenv("FLUVANE_HOME", before, 1);
}

TEST(VXOBFile, CleanUpOfNothingOnlySaysSo) {
  std::vector<std::string> lines = printed_lines([] { VXOB_cleanUpTempfiles(); });
  EXPECT_EQ(lines, std::vector<std::string>{"purging tmp files"});
  // A stray "temp." file of the Documents directory goes too.
  Paths::mkdirs(Paths::documents());
  std::string stray = Paths::join(Paths::documents(), "temp.abc123");
  ASSERT_TRUE(Paths::writeAtomic(stray, "x"));
  std::string kept = Paths::join(Paths::documents(), "keep.txt");
  ASSERT_TRUE(Paths::writeAtomic(kept, "x"));
  VXOB_cleanUpTempfiles();
  EXPECT_FALSE(Paths::exists(stray));
  EXPECT_TRUE(Paths::exists(kept));
}

}  // namespace
