// The stand-ins for the Solaris tools, as the installer relies on them: df -b
// columns, pkgadd's question, records and failure, installf's records, named
// processes in ps -e, lpd -V, whoami and uname, and the product programs.
#include <gtest/gtest.h>

#include "tests/support/sandbox.h"

using namespace ktest;
namespace fs = std::filesystem;

namespace {

TEST(Df, DefaultFileSystemsInSolarisColumns) {
  Result r = InSandbox("", "df -b /opt /tmp /var/spool");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "Filesystem              avail\n"
            "/dev/dsk/c0t0d0s0     8000000\n"
            "swap                  2000000\n"
            "/dev/dsk/c0t0d0s0     8000000\n");
}

TEST(Df, DeclaredFileSystemsLongestMountWins) {
  Result r = InSandbox("--df /opt=1234 --df /opt/Korvi/kvln=77 --df /export/home=99",
                 "mkdir -p /opt/Korvi/kvln/lib /tmp/x; ln -s /tmp/x /opt/link;"
                 " df -b /opt/Korvi /opt/Korvi/kvln/lib /tmp /opt/link /");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "Filesystem              avail\n"
            "/dev/dsk/c0t0d0s3        1234\n"
            "/dev/dsk/c0t0d0s4          77\n"
            "/dev/dsk/c0t0d0s0     8000000\n"  // /tmp is on / once --df is given
            "/dev/dsk/c0t0d0s0     8000000\n"  // a link counts where it leads
            "/dev/dsk/c0t0d0s0     8000000\n");
  r = InSandbox("--df /=500", "df -b /");
  EXPECT_EQ(r.out, "Filesystem              avail\n/dev/dsk/c0t0d0s0         500\n");
}

TEST(Df, WithoutAPathEveryFileSystem) {
  Result r = InSandbox("--df /export=5", "df -b");
  EXPECT_EQ(r.out,
            "Filesystem              avail\n"
            "/dev/dsk/c0t0d0s0     8000000\n"
            "/dev/dsk/c0t0d0s3           5\n");
  r = InSandbox("", "df -k /; echo status $?");
  EXPECT_EQ(r.out,
            "df: illegal option -- k\nUsage: df [-F FSType] [-abeghklntVvZ] [-o FSType-specific_options]"
            " [directory | block_device | resource]\nstatus 1\n");
}

TEST(Df, MissingPathGivesNoDataLine) {
  Result r = InSandbox("", "df -b /opt/Korvi 2>/dev/null; echo status $?");
  EXPECT_EQ(r.out, "Filesystem              avail\nstatus 2\n");
  r = InSandbox("", "df -b /opt/Korvi 2>&1 >/dev/null");
  EXPECT_EQ(r.out, "df: (/opt/Korvi) not a block device, directory or mounted resource\n");
  r = InSandbox("--fail df", "df -b /; echo status $?");
  EXPECT_EQ(r.out, "status 1\n");
}

TEST(Df, CallsAreLogged) {
  TempDir t;
  Result r = InSandbox("--state " + Quote(t / "s"), "df -b /opt >/dev/null; df -b \"/a b\" 2>/dev/null");
  EXPECT_EQ(ReadFile(t / "s/calls.log"), "df -b /opt\ndf -b /a b\n");
}

// A state with the sample package unpacked in the work directory, as the
// installer leaves it before running pkgadd.
class Pkgadd : public ::testing::Test {
 protected:
  void SetUp() override {
    state = t / "s";
    Result b = MakeSampleDist("", FakeSetup(t), state + "/tmp/dist");
    ASSERT_EQ(b.status, 0) << b.out;
    Result r = InSandbox("--state " + Quote(state) + " --cwd " + Quote(state + "/tmp/dist"), kUnpackSteps);
    ASSERT_EQ(r.status, 0) << r.out;
    ASSERT_TRUE(fs::exists(state + "/tmp/KorviInstall/VLMRkvln/pkgmap"));
  }
  Result Add(const std::string& opts, const std::string& input) {
    return InSandbox("--state " + Quote(state) + " " + opts,
               "cd /tmp/KorviInstall && pkgadd -d /tmp/KorviInstall VLMRkvln; echo status $?", input);
  }
  TempDir t;
  std::string state;
};

const char* kQuestion = "Do you want to continue with the installation of <VLMRkvln> [y,n,?] ";

TEST_F(Pkgadd, AsksInstallsAndRecords) {
  Result r = Add("", "y\n");
  EXPECT_NE(r.out.find(std::string("\n") + kQuestion + "\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Processing package instance <VLMRkvln> from </tmp/KorviInstall>\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("Using </opt/Korvi> as the package base directory.\n"), std::string::npos);
  EXPECT_NE(r.out.find("\nInstallation of <VLMRkvln> was successful.\nstatus 0\n"), std::string::npos)
      << r.out;

  // reloc/ under the base directory, root/ at absolute paths, with modes.
  const std::string ad = state + "/opt/Korvi/kvln";
  EXPECT_EQ(Mode(ad + "/kpqadmin"), 0755);
  EXPECT_EQ(Mode(ad + "/README"), 0644);
  EXPECT_EQ(ReadFile(ad + "/README"), ReadFile(Src("sim/sample/VLMRkvln/reloc/kvln/README")));
  EXPECT_EQ(fs::read_symlink(ad + "/kvlninfo"), "bin/kvlninfo");
  EXPECT_EQ(Mode(state + "/var/spool/Korvi"), 0775);
  EXPECT_TRUE(fs::exists(state + "/var/spool/Korvi/kvln/README"));

  const std::string info = ReadFile(state + "/var/sadm/pkg/VLMRkvln/pkginfo");
  EXPECT_TRUE(HasLine(info, "VERSION=4.50.29")) << info;
  EXPECT_TRUE(HasLine(info, "BASEDIR=/opt/Korvi"));
  EXPECT_TRUE(HasLine(info, "PKGINST=VLMRkvln"));
  const std::string contents = ReadFile(state + "/var/sadm/install/contents");
  EXPECT_TRUE(HasLine(contents, "/opt/Korvi/kvln/kpqadmin f none 0755 root other VLMRkvln"));
  EXPECT_TRUE(HasLine(contents, "/var/spool/Korvi/kvln/README f none 0644 root other VLMRkvln"));
  EXPECT_TRUE(HasLine(contents, "/opt/Korvi/kvln/kvlninfo s none - - - VLMRkvln"));
  EXPECT_TRUE(HasLine(ReadFile(state + "/calls.log"), "pkgadd -d /tmp/KorviInstall VLMRkvln"));

  r = InSandbox("--state " + Quote(state), "pkginfo; pkginfo -q VLMRkvln; echo q $?; pkginfo -q NOPE; echo q $?;"
                                 " pkginfo -l VLMRkvln | grep VERSION");
  EXPECT_EQ(r.out,
            "application VLMRkvln       Korvi print software\nq 0\nq 1\n   VERSION:  4.50.29\n");
}

TEST_F(Pkgadd, InstallsThroughTheLinkOfAnotherBase) {
  // A fresh installation into /tmp/export: /opt/Korvi/kvln links to it.
  Result r = InSandbox("--state " + Quote(state),
                 "mkdir -p /tmp/export/Korvi/kvln /opt/Korvi && ln -s /tmp/export/Korvi/kvln /opt/Korvi/kvln &&"
                 " pkgadd -d /tmp/KorviInstall VLMRkvln >/dev/null; echo status $?",
                 "y\n");
  EXPECT_EQ(r.out, "status 0\n");
  EXPECT_TRUE(fs::is_symlink(state + "/opt/Korvi/kvln"));
  EXPECT_EQ(Mode(state + "/tmp/export/Korvi/kvln/driver"), 0755);
}

TEST_F(Pkgadd, RefusalChangesNothing) {
  Result r = Add("", "n\n");
  EXPECT_NE(r.out.find(std::string(kQuestion) +
                       "\nInstallation of <VLMRkvln> was terminated due to user request.\n"
                       "No changes were made to the system.\nstatus 3\n"),
            std::string::npos)
      << r.out;
  EXPECT_FALSE(fs::exists(state + "/var/sadm/pkg/VLMRkvln"));
  EXPECT_FALSE(fs::exists(state + "/opt/Korvi"));
}

TEST_F(Pkgadd, HelpThenAnswerAndEndOfInput) {
  Result r = Add("", "?\nmaybe\ny\n");
  EXPECT_NE(r.out.find("\nAnswer y to install the package, n to stop without changing the system.\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("ERROR: Please enter yes or no.\n"), std::string::npos);
  EXPECT_NE(r.out.find("status 0\n"), std::string::npos);
  // End of input goes on; so does a preset answer without reading.
  r = Add("", "");
  EXPECT_NE(r.out.find("was successful.\nstatus 0\n"), std::string::npos) << r.out;
  r = Add("--pkgadd-answer n", "y\n");
  EXPECT_NE(r.out.find(std::string(kQuestion) + "n\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("status 3\n"), std::string::npos);
}

TEST_F(Pkgadd, FailsOnDemandAndForAMissingPackage) {
  Result r = Add("--fail pkgadd", "y\n");
  EXPECT_NE(r.out.find("\nInstallation of <VLMRkvln> failed.\nstatus 1\n"), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(state + "/var/sadm/pkg/VLMRkvln"));
  EXPECT_FALSE(fs::exists(state + "/opt/Korvi/kvln/kpqadmin"));
  // Only the first call fails with a count.
  r = Add("--fail pkgadd=1", "y\n");
  EXPECT_NE(r.out.find("status 1\n"), std::string::npos);
  r = InSandbox("--state " + Quote(state) + " --fail pkgadd=1",
          "pkgadd -d /tmp/KorviInstall VLMRkvln >/dev/null 2>&1; echo $?;"
          " pkgadd -d /tmp/KorviInstall VLMRkvln >/dev/null 2>&1; echo $?",
          "y\ny\n");
  EXPECT_EQ(r.out, "1\n0\n");
  r = InSandbox("--state " + Quote(state), "pkgadd -d /tmp/KorviInstall NOPE; echo status $?");
  EXPECT_EQ(r.out, "pkgadd: ERROR: no package associated with <NOPE>\nstatus 1\n");
}

TEST(Installf, RecordsRegistrationsAndFinal) {
  TempDir t;
  const std::string s = t / "s";
  WriteFile(s + "/var/sadm/pkg/VLMRkvln/pkginfo", "PKG=VLMRkvln\nVERSION=4.0\n");
  Result r = InSandbox("--state " + Quote(s),
                 "/usr/sbin/installf -c none VLMRkvln \"/opt/Korvi/kvln/bin/tool\" f 0755 root other"
                 " 1>/dev/null 2>/dev/null; echo $?;"
                 " /usr/sbin/installf -f VLMRkvln 1>/dev/null 2>/dev/null; echo $?;"
                 " /usr/sbin/installf -c none NOPE /x f 0644 root bin; echo $?;"
                 " /usr/sbin/installf -c none VLMRkvln rel/path f 0644 root bin; echo $?");
  EXPECT_EQ(r.out,
            "0\n0\n"
            "installf: ERROR: package <NOPE> is not installed\n1\n"
            "installf: ERROR: <rel/path> is not an absolute path\n1\n");
  EXPECT_EQ(ReadFile(s + "/var/sadm/install/contents"),
            "/opt/Korvi/kvln/bin/tool f none 0755 root other VLMRkvln\n");
  EXPECT_EQ(ReadFile(s + "/var/sadm/pkg/VLMRkvln/installf.final"), "-f VLMRkvln\n");
  const std::string calls = ReadFile(s + "/calls.log");
  EXPECT_TRUE(HasLine(calls, "installf -c none VLMRkvln /opt/Korvi/kvln/bin/tool f 0755 root other"));
  EXPECT_TRUE(HasLine(calls, "installf -f VLMRkvln"));
}

TEST(Processes, NamedProcessesAreVisibleToPsByExactName) {
  Result r = InSandbox("--proc cupsd --proc kprkvlntty --proc driver",
                 "ps -e | awk 'NR > 1 && ($4 == \"cupsd\" || $4 == \"kprkvlntty\" || $4 == \"driver\" ||"
                 " $4 == \"cups\") {print $4}' | sort");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "cupsd\ndriver\nkprkvlntty\n");
  // The header is the one the installer splits: PID, TTY, TIME, CMD.
  r = InSandbox("", "ps -e | head -n 1 | awk '{print $1, $2, $3, $4}'");
  EXPECT_EQ(r.out, "PID TTY TIME CMD\n");
}

TEST(Processes, ANamedProcessWithALifetimeEnds) {
  Result r = InSandbox("--proc driver:1",
                 "ps -e | awk '$4 == \"driver\"' | wc -l;"
                 " while ps -e | awk '$4 == \"driver\"' | grep -q .; do sleep 0.2; done; echo gone");
  EXPECT_EQ(r.out, "1\ngone\n");
}

TEST(Lpd, FlavoursOfTheVersionReport) {
  Result r = InSandbox("", "command -v lpd || echo no lpd");
  EXPECT_EQ(r.out, "no lpd\n");
  r = InSandbox("--lpd lprng", "command -v lpd; lpd -V 2>&1");
  EXPECT_EQ(r.out, "/usr/sbin/lpd\nlpd: LPRng-3.8.28\n");
  r = InSandbox("--lpd plain", "lpd -V 2>&1 | grep -c LPRng");
  EXPECT_EQ(r.out, "0\n");
}

TEST(Identity, WhoamiAndUname) {
  Result r = InSandbox("", "whoami; uname -s; uname -r; uname; uname -m; uname -p");
  EXPECT_EQ(r.out, "root\nSunOS\n5.10\nSunOS\ni86pc\ni386\n");
  r = InSandbox("--user rootx --release 5.9", "whoami; uname -r; uname -sr");
  EXPECT_EQ(r.out, "rootx\n5.9\nSunOS 5.9\n");
  r = InSandbox("", "uname -q; echo $?");
  EXPECT_EQ(r.out, "uname: illegal option -- q\nusage: uname [-snrvmapiX]\n1\n");
}

TEST_F(Pkgadd, ProductProgramsRecordArgumentsAndEnvironment) {
  ASSERT_NE(Add("", "y\n").out.find("status 0"), std::string::npos);
  Result r = InSandbox("--state " + Quote(state),
                 "cd /var/spool && PRINTER=q1 /opt/Korvi/kvln/driver -dq1 '-u bob' 'a b'; echo $?");
  EXPECT_EQ(r.out, "0\n");
  EXPECT_TRUE(HasLine(ReadFile(state + "/calls.log"), "driver -dq1 -u bob a b"));
  const std::string rec = ReadFile(state + "/progs/001-driver");
  EXPECT_EQ(rec.rfind("arg=-dq1\narg=-u bob\narg=a b\ncwd=/var/spool\n", 0), 0u) << rec;
  EXPECT_TRUE(HasLine(rec, "env=PRINTER=q1"));

  // A filter told to fail twice fails twice, then succeeds; records go on.
  r = InSandbox("--state " + Quote(state) + " --fail ksf=2",
          "for i in 1 2 3; do /opt/Korvi/kvln/ksf f$i; echo $?; done");
  EXPECT_EQ(r.out, "1\n1\n0\n");
  EXPECT_TRUE(fs::exists(state + "/progs/004-ksf"));
  EXPECT_TRUE(HasLine(ReadFile(state + "/progs/004-ksf"), "arg=f3"));
  for (const char* p : {"kpqadmin", "kprkvlntty", "v5driver", "AixInterface"}) {
    r = InSandbox("--state " + Quote(state), std::string("/opt/Korvi/kvln/") + p + " -x; echo $?");
    EXPECT_EQ(r.out, "0\n") << p;
    EXPECT_TRUE(HasLine(ReadFile(state + "/calls.log"), std::string(p) + " -x")) << p;
  }
}

}  // namespace
