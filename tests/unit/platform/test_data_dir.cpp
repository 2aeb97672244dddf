// Where the client keeps its writable files: beside a writable program
// folder, else in the user's data folder with the delivered edu.db copied
// there once. The program folder's writability is given by the test (root
// writes into any folder); the rest is real files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <filesystem>

#include "platform/data_dir.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

class DataFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    programDir = root.path().toStdString() + "/program";
    fs::create_directories(programDir);
    ASSERT_TRUE(testsupport::writeFile(programDir + "/edu.db", "delivered tables"));
    ::chmod((programDir + "/edu.db").c_str(), 0444);
  }

  platform::DataFolder decide(bool programWritable, const std::string& xdg, const std::string& home) {
    platform::DataFolderInputs inputs;
    inputs.programDir = programDir;
    inputs.xdgDataHome = xdg;
    inputs.home = home;
    inputs.writable = [programWritable](const std::string&) { return programWritable; };
    return platform::decideDataFolder(inputs);
  }

  QTemporaryDir root;
  std::string programDir;
};

TEST_F(DataFolderTest, WritableProgramFolderKeepsEverythingBesideTheProgram) {
  const std::string home = root.path().toStdString() + "/home";
  const platform::DataFolder folder = decide(true, root.path().toStdString() + "/xdg", home);
  EXPECT_EQ(folder.path, programDir);
  EXPECT_TRUE(folder.besideProgram);
  EXPECT_NE(folder.note.find(programDir), std::string::npos) << folder.note;
  EXPECT_FALSE(fs::exists(root.path().toStdString() + "/xdg"));
  EXPECT_FALSE(fs::exists(home));
}

// The package's program folder is never written, though root may write it:
// root's client keeps its files in root's own data folder.
TEST_F(DataFolderTest, APackagedProgramFolderIsNeverTheDataFolderEvenWhenWritable) {
  ASSERT_TRUE(testsupport::writeFile(programDir + "/installed-by-package", "the package's\n"));
  const std::string home = root.path().toStdString() + "/home";
  const platform::DataFolder folder = decide(true, "", home);
  EXPECT_EQ(folder.path, home + "/.local/share/edu-client");
  EXPECT_FALSE(folder.besideProgram);
  EXPECT_NE(folder.note.find("belongs to the installed package"), std::string::npos) << folder.note;
  EXPECT_EQ(testsupport::readFile(folder.path + "/edu.db"), "delivered tables");
}

TEST_F(DataFolderTest, ReadOnlyProgramFolderUsesTheUsersDataFolderWithACopyOfEduDb) {
  const std::string top = root.path().toStdString();
  struct Case {
    const char* what;
    std::string xdg;
    std::string home;
    std::string expected;
  } cases[] = {
      {"XDG_DATA_HOME set", top + "/xdg", top + "/home1", top + "/xdg/edu-client"},
      {"XDG_DATA_HOME unset", "", top + "/home2", top + "/home2/.local/share/edu-client"},
      {"XDG_DATA_HOME relative, so ignored", "relative/xdg", top + "/home3",
       top + "/home3/.local/share/edu-client"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const platform::DataFolder folder = decide(false, c.xdg, c.home);
    EXPECT_EQ(folder.path, c.expected);
    EXPECT_FALSE(folder.besideProgram);
    EXPECT_NE(folder.note.find("read-only"), std::string::npos) << folder.note;
    EXPECT_NE(folder.note.find("copied"), std::string::npos) << folder.note;
    EXPECT_EQ(testsupport::readFile(c.expected + "/edu.db"), "delivered tables");
    struct stat info {};
    ASSERT_EQ(::stat((c.expected + "/edu.db").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << "the copy takes rows although the delivered file is read-only";
    ASSERT_EQ(::stat(c.expected.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    // Nothing but the database: no half-copied file left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(c.expected), fs::directory_iterator()), 1);
  }
}

TEST_F(DataFolderTest, ACopyAlreadyThereIsKeptAndUsed) {
  const std::string xdg = root.path().toStdString() + "/xdg";
  fs::create_directories(xdg + "/edu-client");
  ASSERT_TRUE(testsupport::writeFile(xdg + "/edu-client/edu.db", "the user's rows"));
  const platform::DataFolder folder = decide(false, xdg, "");
  EXPECT_EQ(folder.path, xdg + "/edu-client");
  EXPECT_EQ(testsupport::readFile(xdg + "/edu-client/edu.db"), "the user's rows");
  EXPECT_NE(folder.note.find("is used"), std::string::npos) << folder.note;
}

// Two starts racing to the first copy: the one that finds edu.db made
// after it looked keeps that copy (which may already hold rows) and still
// starts; its own temporary copy goes.
TEST_F(DataFolderTest, ACopyMadeMeanwhileByAnotherStartIsKeptAndCountsAsDone) {
  const std::string folder = root.path().toStdString() + "/user";
  fs::create_directories(folder);
  ASSERT_TRUE(testsupport::writeFile(folder + "/edu.db", "the other start's copy, with rows"));
  std::string error;
  EXPECT_TRUE(platform::copyDatabase(programDir + "/edu.db", folder + "/edu.db", &error)) << error;
  EXPECT_EQ(testsupport::readFile(folder + "/edu.db"), "the other start's copy, with rows");
  EXPECT_EQ(testsupport::filesBelow(folder), std::vector<std::string>{"/edu.db"});
}

// A link planted at the copy's temporary name is moved aside, never
// written through.
TEST_F(DataFolderTest, TheFirstCopyNeverWritesThroughALinkAtItsTemporaryName) {
  const std::string folder = root.path().toStdString() + "/user";
  fs::create_directories(folder);
  const std::string victim = root.path().toStdString() + "/victim";
  ASSERT_TRUE(testsupport::writeFile(victim, "someone else's"));
  const std::string part = folder + "/edu.db." + std::to_string(::getpid()) + ".part";
  fs::create_symlink(victim, part);
  std::string error;
  EXPECT_TRUE(platform::copyDatabase(programDir + "/edu.db", folder + "/edu.db", &error)) << error;
  EXPECT_EQ(testsupport::readFile(folder + "/edu.db"), "delivered tables");
  EXPECT_EQ(testsupport::readFile(victim), "someone else's");
  EXPECT_FALSE(fs::exists(fs::symlink_status(part)));
  EXPECT_TRUE(fs::is_symlink(part + ".unsafe-1"));
}

TEST_F(DataFolderTest, AUserDataFolderThatCannotBeMadeLeavesTheProgramFolderAndSaysSo) {
  // A file where the folder would go.
  const std::string xdg = root.path().toStdString() + "/xdg";
  ASSERT_TRUE(testsupport::writeFile(xdg, "a file"));
  const platform::DataFolder folder = decide(false, xdg, "");
  EXPECT_EQ(folder.path, programDir);
  EXPECT_NE(folder.note.find("cannot be made"), std::string::npos) << folder.note;
}

// Something other than a folder of ours in the data folder's place: the
// client is not to use it, nor to fall back on the read-only program folder.
TEST_F(DataFolderTest, AFileOrLinkInTheDataFoldersPlaceIsRefused) {
  const std::string xdg = root.path().toStdString() + "/xdg";
  std::filesystem::create_directories(xdg);
  const std::string folder = xdg + "/edu-client";
  ASSERT_TRUE(testsupport::writeFile(folder, "a file"));
  platform::DataFolder decided = decide(false, xdg, "");
  EXPECT_EQ(decided.refusal, folder);
  EXPECT_NE(decided.note.find("is not a folder"), std::string::npos) << decided.note;

  std::filesystem::remove(folder);
  std::filesystem::create_directory(root.path().toStdString() + "/elsewhere");
  std::filesystem::create_directory_symlink(root.path().toStdString() + "/elsewhere", folder);
  decided = decide(false, xdg, "");
  EXPECT_EQ(decided.refusal, folder);
  EXPECT_FALSE(std::filesystem::exists(root.path().toStdString() + "/elsewhere/edu.db"));
}

TEST(FolderWritable, AFolderThatTakesNewFilesAndLeavesNoTrace) {
  QTemporaryDir folder;
  EXPECT_TRUE(platform::folderWritable(folder.path().toStdString()));
  EXPECT_TRUE(fs::is_empty(folder.path().toStdString()));
  EXPECT_FALSE(platform::folderWritable(folder.path().toStdString() + "/missing"));
  if (::geteuid() != 0) {
    // Root writes anywhere; the end-to-end tests run the real thing as an
    // unprivileged user.
    ::chmod(folder.path().toUtf8().constData(), 0555);
    EXPECT_FALSE(platform::folderWritable(folder.path().toStdString()));
    ::chmod(folder.path().toUtf8().constData(), 0755);
  }
}

}  // namespace
