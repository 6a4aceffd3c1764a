// The demo command: it stops clearly without an installer, and installs the
// sample on the simulated host when its answers are piped in.
#include <gtest/gtest.h>

#include "tests/support/sandbox.h"

using namespace ktest;
namespace fs = std::filesystem;

namespace {

TEST(Demo, StopsWhenTheInstallerIsNotBuilt) {
  Result r = Capture("KORVI_DEMO_SETUP=/nonexistent/setup " + Quote(Src("scripts/demo.sh")) + " </dev/null 2>&1");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "demo: the installer is not built yet (/nonexistent/setup is missing); nothing to run.\n");
}

TEST(Demo, InstallsTheSampleWithPipedAnswers) {
  const std::string setup = std::string(KORVI_BINARY_DIR) + "/installer/setup";
  if (!fs::exists(setup)) GTEST_SKIP() << "no installer at " << setup;
  TempDir t;
  Result r = Capture("printf 'y\\n' | KORVI_DEMO_SETUP=" + Quote(setup) + " KORVI_DEMO_OUT=" + Quote(t / "demo") + " " +
                Quote(Src("scripts/demo.sh")) + " 2>&1");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Installation of <VLMRkvln> was successful."), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("==== What setup left on the simulated Solaris host ====\n"
                       "Application directory /opt/Korvi/kvln\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("Flag file /opt/Korvi/kvln/.kp_cfg: \" V5 \"\n"), std::string::npos);
  EXPECT_EQ(r.out.find("(missing)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Launchers in /usr/bin: kpadmin\n"), std::string::npos);
  EXPECT_NE(r.out.find("Run log: " + t / "demo/setup.log"), std::string::npos);
  EXPECT_NE(r.out.find("\ndemo: setup ended with status 0\n"), std::string::npos);
  EXPECT_NE(ReadFile(t / "demo/setup.log").find("initializing system\n"), std::string::npos);
  EXPECT_FALSE(fs::exists("/opt/Korvi/kvln/.kp_cfg"));
}

}  // namespace
