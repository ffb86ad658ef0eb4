// Renaming the workstation's end of the pair: the command line, and running
// it detached through the process runner.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <thread>

#include "armlink/port_rename.h"
#include "platform/process_runner.h"
#include "tests/support/child_process.h"

namespace {

TEST(PortRename, CommandLineNamesTheWorkstationEndOfThePair) {
  EXPECT_EQ(armlink::WorkstationEnd("CNCB3"), "CNCA3");
  EXPECT_EQ(armlink::RenameCommandLine("/opt/relay", "CNCB0", "COM5"),
            "/opt/relay/setupc change CNCA0 PortName=COM5");
  // A directory with a blank stays one word of the command.
  EXPECT_EQ(armlink::RenameCommand("/opt/relay server", "CNCB2", "COM15"),
            (std::vector<std::string>{"/opt/relay server/setupc", "change", "CNCA2",
                                      "PortName=COM15"}));
}

TEST(ProcessRunner, RunsTheProgramInItsDirectoryWithoutWaiting) {
  testsupport::TempDir dir;
  const std::string script = dir.File("setupc");
  testsupport::WriteFile(script, "#!/bin/sh\nsleep 0.2\necho \"$@\" > \"$(pwd)/ran\"\n");
  ::chmod(script.c_str(), 0755);

  const auto start = std::chrono::steady_clock::now();
  std::string error;
  ASSERT_TRUE(platform::RunDetached({script, "change", "CNCA0", "PortName=COM5"}, dir.Path(),
                                    &error))
      << error;
  // The runner does not wait for the program.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));

  std::string text;
  for (int k = 0; k < 100 && text.empty(); ++k) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::ifstream in(dir.File("ran"));
    std::getline(in, text);
  }
  EXPECT_EQ(text, "change CNCA0 PortName=COM5");
}

TEST(ProcessRunner, AProgramThatCannotStartIsReported) {
  std::string error;
  EXPECT_FALSE(platform::RunDetached({}, "/", &error));
  EXPECT_FALSE(error.empty());
  error.clear();
  EXPECT_FALSE(platform::RunDetached({"/no/such/setupc", "list"}, "/", &error));
  EXPECT_NE(error.find("/no/such/setupc"), std::string::npos) << error;
}

}  // namespace
