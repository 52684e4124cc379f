#include "common/name_escape.h"

#include <gtest/gtest.h>

#include "backup/backup_manifest.h"

namespace brimora {
namespace {

TEST(NameEscapeTest, EveryNameSurvivesBothListsAndTheRecordsRule) {
  const struct {
    std::string name, escaped, sha256sumLine;
  } cases[] = {
      {"Settings/Brimora.xml", "Settings/Brimora.xml", "h  Settings/Brimora.xml\n"},
      {"caf\xc3\xa9 \xce\xa3", "caf\xc3\xa9 \xce\xa3", "h  caf\xc3\xa9 \xce\xa3\n"},
      {"a\nb\rc\td", "a\\x0ab\\x0dc\\x09d", "\\h  a\\nb\\rc\td\n"},
      {"back\\slash", "back\\\\slash", "\\h  back\\\\slash\n"},
      {"bad\xff\xfe", "bad\\xff\\xfe", "h  bad\xff\xfe\n"},
      {"cut\xc3", "cut\\xc3", "h  cut\xc3\n"},
      {"\\x41", "\\\\x41", "\\h  \\\\x41\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.escaped);
    EXPECT_EQ(EscapeName(c.name), c.escaped);
    std::string back;
    EXPECT_TRUE(UnescapeName(c.escaped, back));
    EXPECT_EQ(back, c.name);
    EXPECT_EQ(Sha256SumLine("h", c.name), c.sha256sumLine);

    BackupEntry entry{c.name, platform::EntryKind::kLink, 0777, 1, 2, 3, {4, 5}, {6, 7}, true, c.name};
    BackupEntry read;
    const std::string line = EntryLine(entry);
    EXPECT_TRUE(ParseEntryLine(line.substr(0, line.size() - 1), &read));
    EXPECT_EQ(read.path, c.name);
    EXPECT_EQ(read.content, c.name);
    EXPECT_TRUE(read.knownChange && read.changed == (platform::FileTime{6, 7}));
  }
  std::string name;
  for (const char* bad : {"\\", "\\q", "\\x4", "\\xZZ"}) EXPECT_FALSE(UnescapeName(bad, name)) << bad;
  BackupEntry entry;
  for (const char* bad : {"", "F\t0644", "X\t0644\t0\t0\t1\t2.3\t-\tpath", "F\t0644\t0\t0\t1\t2.3\t-\t",
                          "F\t0644\t0\t0\t1\t2.3\t4.5x\t-\tpath"}) {
    EXPECT_FALSE(ParseEntryLine(bad, &entry)) << bad;
  }
  // Lists of the first format have no change time.
  ASSERT_TRUE(ParseEntryLine("F\t0644\t0\t0\t1\t2.3\t-\tpath", &entry));
  EXPECT_FALSE(entry.knownChange);
}

TEST(NameEscapeTest, WalkOrderPutsAFolderBeforeWhatItHoldsAndNamesInByteOrder) {
  EXPECT_TRUE(WalkOrderLess("a", "a/b"));
  EXPECT_TRUE(WalkOrderLess("a/b", "a-c"));
  EXPECT_TRUE(WalkOrderLess("a/\xff", "a0"));
  EXPECT_FALSE(WalkOrderLess("a/b", "a/b"));
  EXPECT_FALSE(WalkOrderLess("b", "a/z"));
}

}  // namespace
}  // namespace brimora
