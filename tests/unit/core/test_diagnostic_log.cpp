// The diagnostic log: a line is cut at a bounded length wherever it goes,
// the log file rotates at its byte bound keeping a fixed number of files,
// and the status window's hidden box stays bounded in bytes and lines.
#include <sys/stat.h>

#include <QTemporaryDir>
#include <filesystem>

#include "core/diagnostic_log.h"
#include "tests/unit/core/status_window_fixture.h"

namespace {

namespace fs = std::filesystem;

TEST(CutLogLine, LongLinesEndWithTheirFullSizeAndNeverSplitACharacter) {
  const std::string chinese = text::utf8ToGbk("服务器");  // two bytes a character
  const std::string ending25 = "\xA1\xAD(25 bytes)";      // "…(25 bytes)", 12 bytes
  struct Case {
    const char* what;
    std::string line;
    size_t limit;
    std::string expected;
  } cases[] = {
      {"short line unchanged", "abc", 16, "abc"},
      {"exactly the limit", std::string(16, 'x'), 16, std::string(16, 'x')},
      {"ASCII cut", std::string(40, 'x'), 24, std::string(12, 'x') + "\xA1\xAD(40 bytes)"},
      // 24 - 12 = 12 bytes to keep: "z" and five whole characters, not half
      // of the sixth.
      {"GBK cut at a character", "z" + chinese + chinese + chinese + chinese, 24,
       "z" + chinese + chinese.substr(0, 4) + ending25},
      // 0x81 is the first lead byte: its pair stays whole too.
      {"lowest lead byte", "z" + std::string(40, '\x81'), 16,
       "z\x81\x81" + std::string("\xA1\xAD(41 bytes)")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string cut = cutLogLine(c.line, c.limit);
    EXPECT_EQ(cut, c.expected);
    EXPECT_LE(cut.size(), c.limit);
    EXPECT_EQ(cutLogLine(cut, c.limit), cut) << "a cut line is not cut again";
  }
}

TEST(RotatingLogFile, RotatesAtItsBoundAndKeepsAFixedNumberOfFiles) {
  QTemporaryDir dir;
  const std::string folder = dir.path().toStdString() + "/log";
  RotatingLogFile file(folder, "edu-client.log", 1000, 3);
  const std::string line(99, 'a');  // 100 bytes with its line end
  for (int i = 0; i < 45; ++i) ASSERT_TRUE(file.write(line));
  // 45 lines of 100 bytes: 10 per file, so the newest 5 in the file, 10 in
  // .1, 10 in .2, and the oldest 20 gone with the files beyond .2.
  EXPECT_EQ(fs::file_size(folder + "/edu-client.log"), 500u);
  EXPECT_EQ(fs::file_size(folder + "/edu-client.log.1"), 1000u);
  EXPECT_EQ(fs::file_size(folder + "/edu-client.log.2"), 1000u);
  EXPECT_FALSE(fs::exists(folder + "/edu-client.log.3"));
  // Only the user reads it: a login line carries the FTP credentials.
  EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
  EXPECT_EQ(fs::status(folder + "/edu-client.log").permissions(),
            fs::perms::owner_read | fs::perms::owner_write);

  // A new writer appends to the file and counts what is there.
  RotatingLogFile again(folder, "edu-client.log", 1000, 3);
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(again.write(line));
  EXPECT_EQ(fs::file_size(folder + "/edu-client.log"), 100u);
  EXPECT_EQ(fs::file_size(folder + "/edu-client.log.1"), 1000u);
}

// What is planted where the log goes is never written through, never
// chmod-ed and never waited on: a link or FIFO in the file's place is moved
// aside and a new file begun; a linked folder is not used at all.
TEST(RotatingLogFile, APlantedLinkOrFifoIsMovedAsideAndNeverWrittenThrough) {
  QTemporaryDir dir;
  const std::string root = dir.path().toStdString();
  const std::string target = root + "/target";
  ASSERT_TRUE(testsupport::writeFile(target, "keep"));
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                              fs::perms::others_read);
  const struct {
    const char* what;
    std::function<void(const std::string&)> plant;
  } cases[] = {
      {"a link to another file", [&](const std::string& path) { fs::create_symlink(target, path); }},
      {"a FIFO", [](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string folder = root + "/log" + std::to_string(++n);
    fs::create_directory(folder);
    const std::string path = folder + "/edu-client.log";
    c.plant(path);
    std::vector<std::string> notices;
    RotatingLogFile file(folder, "edu-client.log", 1000, 3);
    file.setNotice([&](const std::string& line) { notices.push_back(line); });
    EXPECT_TRUE(file.write("first"));
    EXPECT_TRUE(file.write("second"));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(path)));
    EXPECT_EQ(testsupport::readFile(path), "first\nsecond\n");
    EXPECT_TRUE(fs::exists(fs::symlink_status(path + ".unsafe-1")));
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("moved aside"), std::string::npos) << notices[0];
  }
  EXPECT_EQ(testsupport::readFile(target), "keep");
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::others_read, fs::perms::others_read);

  // The folder itself a link: nothing is written there, nothing changed.
  const std::string elsewhere = root + "/elsewhere";
  fs::create_directory(elsewhere);
  fs::permissions(elsewhere, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
  fs::create_directory_symlink(elsewhere, root + "/linked");
  std::vector<std::string> notices;
  RotatingLogFile linked(root + "/linked", "edu-client.log", 1000, 3);
  linked.setNotice([&](const std::string& line) { notices.push_back(line); });
  EXPECT_FALSE(linked.write("line"));
  EXPECT_FALSE(linked.write("line"));
  EXPECT_TRUE(fs::is_empty(elsewhere));
  EXPECT_EQ(fs::status(elsewhere).permissions() & fs::perms::others_read, fs::perms::others_read);
  EXPECT_EQ(notices.size(), 1u);
}

TEST(DiagnosticLog, AFiveMegabyteReplyLeavesOneCutLineInTheFile) {
  QTemporaryDir dir;
  DiagnosticLog log(dir.path().toStdString());
  log.write(text::utf8ToGbk("登录：成功"));
  log.write("Tform_skjs.GetGrade : " + std::string(5 * 1024 * 1024, 'r'));
  log.write("after");

  const std::string written = testsupport::readFile(log.filePath());
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = written.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(written.substr(start, end - start));
  ASSERT_EQ(lines.size(), 3u) << written.substr(0, 300);
  // "2026-05-04 08:30:15.123 " then the line, in UTF-8.
  EXPECT_EQ(lines[0].substr(23), " 登录：成功");
  EXPECT_EQ(lines[0][4], '-');
  EXPECT_LE(lines[1].size(), 24 + kLogLineLengthLimit + 4);
  EXPECT_GE(lines[1].size(), kLogLineLengthLimit);
  EXPECT_NE(lines[1].find("Tform_skjs.GetGrade : rrr"), std::string::npos);
  EXPECT_EQ(lines[1].substr(lines[1].size() - std::string("…(5242902 bytes)").size()), "…(5242902 bytes)");
  EXPECT_EQ(lines[2].substr(24), "after");
}

TEST(DiagnosticLog, WritingPastTheBoundRotatesIntoFiveFilesOfAtMostOneMebibyte) {
  QTemporaryDir dir;
  DiagnosticLog log(dir.path().toStdString());
  const std::string line(4000, 'x');
  // About 7 MiB in all: more than the five files hold.
  for (int i = 0; i < 1800; ++i) log.write(line);
  const std::string base = dir.path().toStdString() + "/edu-client.log";
  for (const std::string& name : {base, base + ".1", base + ".2", base + ".3", base + ".4"}) {
    ASSERT_TRUE(fs::exists(name)) << name;
    EXPECT_LE(fs::file_size(name), DiagnosticLog::kFileBytes) << name;
  }
  EXPECT_GT(fs::file_size(base + ".4"), DiagnosticLog::kFileBytes - 5000);
  EXPECT_FALSE(fs::exists(base + ".5"));
}

TEST_F(StatusWindowTest, HiddenLogStaysBoundedInBytesAndLinesAndFeedsTheSink) {
  std::vector<std::string> sunk;
  form->setLogSink([&](const std::string& line) { sunk.push_back(line); });
  auto* box = child<QPlainTextEdit>("Memo1");

  // Forty 5 MB replies: each one line of at most 4 KiB, box and sink alike.
  for (int i = 0; i < 40; ++i)
    form->appendLog("reply " + std::to_string(i) + " " + std::string(5000000, 'j'));
  ASSERT_EQ(sunk.size(), 40u);
  for (const std::string& line : sunk) EXPECT_LE(line.size(), kLogLineLengthLimit);
  EXPECT_EQ(logLines().size(), 40);
  EXPECT_TRUE(logLines().back().endsWith("…(5000009 bytes)")) << logLines().back().right(40).toStdString();

  // Far more than a mebibyte of lines: the newest stay, the box stays near 1 MiB.
  for (int i = 0; i < 2000; ++i) form->appendLog("line " + std::to_string(i) + " " + std::string(3000, 'k'));
  const QString all = box->toPlainText();
  EXPECT_LE(all.size(), 1024 * 1024 + 4096);
  EXPECT_GE(all.size(), 512 * 1024);
  EXPECT_TRUE(logLines().back().startsWith("line 1999 "));
  EXPECT_FALSE(all.contains("reply 0 "));

  // And far more than 10,000 short lines.
  for (int i = 0; i < 25000; ++i) form->appendLog("n" + std::to_string(i));
  EXPECT_LE(logLines().size(), 10000);
  EXPECT_EQ(logLines().back().toStdString(), "n24999");
  EXPECT_EQ(sunk.size(), 40u + 2000u + 25000u);
}

}  // namespace
