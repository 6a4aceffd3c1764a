// End-to-end: the print-subsystem flag file the installer writes for each host spooler,
// and the generated queue scripts run the way each spooler calls them, checked by what
// the stand-in product programs recorded (arguments, directory, environment).
#include <fcntl.h>
#include <sys/file.h>

#include "tests/support/sandbox.h"

namespace {

using namespace ktest;

const std::string kAD = "/opt/Korvi/kvln";
using Args = std::vector<std::string>;

// ---------------------------------------------------------------------------
// Flag file: which spooler the host runs
// ---------------------------------------------------------------------------

struct SpoolerCase {
  const char* name;
  const char* runnerOpts;
  const char* flag;
};

void PrintTo(const SpoolerCase& c, std::ostream* os) { *os << c.name; }

class FlagFile : public ::testing::TestWithParam<SpoolerCase> {};

TEST_P(FlagFile, NamesTheHostSpooler) {
  Sandbox sim("flag");
  sim.MakeDist(SamplePkgDir(), "t x\n");
  Result r = sim.Setup("y\n", GetParam().runnerOpts);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(ReadFile(sim.At(kAD + "/.kp_cfg")), GetParam().flag);
  EXPECT_EQ(Mode(sim.At(kAD + "/.kp_cfg")), 0644);
}

INSTANTIATE_TEST_SUITE_P(
    Package, FlagFile,
    ::testing::Values(SpoolerCase{"SystemV", "", " V5 "},
                      SpoolerCase{"PlainLpd", "--lpd plain", " V5 "},
                      SpoolerCase{"LPRng", "--lpd lprng", " LPRng "},
                      SpoolerCase{"CUPS", "--proc cupsd", " CUPS "},
                      SpoolerCase{"CUPSWinsOverLPRng", "--lpd lprng --proc cupsd", " CUPS "}),
    [](const ::testing::TestParamInfo<SpoolerCase>& i) { return std::string(i.param.name); });

TEST(PrintConfLink, MadeOnAnLPRngHostWithThePrintConfigurationTool) {
  Sandbox sim("printconf");
  Shell("mkdir -p " + Quote(sim.At("/usr/share/printconf/util")));
  sim.MakeDist(SamplePkgDir(), "t x\n");
  Result r = sim.Setup("y\n", "--lpd lprng");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  std::string link = sim.At("/usr/share/printconf/util/KorviPrintkvln");
  EXPECT_TRUE(IsLink(link));
  EXPECT_EQ(Shell("test \"$(readlink " + Quote(link) + ")\" = /opt/Korvi/kvln/KorviPrintkvln"), 0);
  EXPECT_TRUE(Contains(sim.Log(), "ln  -s /opt/Korvi/kvln/KorviPrintkvln "
                                  "/usr/share/printconf/util/KorviPrintkvln\n"));
}

TEST(PrintConfLink, NotMadeWhenAnEntryIsThereOrTheHostIsNotLPRng) {
  Sandbox sim("printconf2");
  Shell("mkdir -p " + Quote(sim.At("/usr/share/printconf/util")));
  WriteFile(sim.At("/usr/share/printconf/util/KorviPrintkvln"), "theirs\n");
  sim.MakeDist(SamplePkgDir(), "t x\n");
  Result r = sim.Setup("y\n", "--lpd lprng");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(ReadFile(sim.At("/usr/share/printconf/util/KorviPrintkvln")), "theirs\n");
  EXPECT_FALSE(Contains(sim.Log(), "/usr/share/printconf"));

  Sandbox plain("printconf3");
  Shell("mkdir -p " + Quote(plain.At("/usr/share/printconf/util")));
  plain.MakeDist(SamplePkgDir(), "t x\n");
  r = plain.Setup("y\n", "--lpd plain");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_FALSE(Exists(plain.At("/usr/share/printconf/util/KorviPrintkvln")));
}

TEST(QueueScripts, ReRunningRewritesThemFromScratch) {
  Sandbox sim("rerun");
  sim.MakeDist(SamplePkgDir(), "t x\n");
  ASSERT_EQ(sim.Setup("y\n").status, 0);
  std::string first = ReadFile(sim.At(kAD + "/KorviKSF"));
  WriteFile(sim.At(kAD + "/KorviKSF"), "changed\n", 0600);
  WriteFile(sim.At(kAD + "/.kp_cfg"), " LPRng  ");
  ASSERT_EQ(sim.Setup("y\n").status, 0);  // an upgrade now
  EXPECT_EQ(ReadFile(sim.At(kAD + "/KorviKSF")), first);
  EXPECT_EQ(Mode(sim.At(kAD + "/KorviKSF")), 0755);
  EXPECT_EQ(ReadFile(sim.At(kAD + "/.kp_cfg")), " V5 ");
  EXPECT_TRUE(Contains(first, "SpoolDir=\"/var/spool/Korvi/kvln\"\n"));
  EXPECT_TRUE(Contains(first, "CfgFlags=`cat ${ToolPath}/.kp_cfg"));
}

// Scripts written in 2031 say 2031: setup runs with time() fixed in mid-2031 by a small
// preloaded library built here.
TEST(QueueScripts, BannerCarriesTheYearOfWriting) {
  Sandbox sim("year");
  std::string src = sim.At("/tmp/clock2031.c"), lib = sim.At("/tmp/clock2031.so");
  WriteFile(src,
            "#include <time.h>\n"
            "time_t time(time_t* t) { time_t v = 1940544000; if (t) *t = v; return v; }\n");
  if (Shell("cc -shared -fPIC -o " + Quote(lib) + " " + Quote(src) + " 2>/dev/null") != 0)
    GTEST_SKIP() << "no C compiler to build the clock library";
  sim.MakeDist(SamplePkgDir(), "m driver bat kvdriver\n");
  Result r = sim.Run("y\n", "",
                     "umask 022; LD_PRELOAD=/tmp/clock2031.so "
                     "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0 exec ./setup");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  for (const char* s : {"/opt/Korvi/kvln/KorviPrintkvln", "/opt/Korvi/kvln/v4DriverScript",
                        "/opt/Korvi/kvln/v5DriverScript", "/opt/Korvi/kvln/KorviKSF",
                        "/usr/bin/kvdriver"}) {
    std::string text = ReadFile(sim.At(s));
    const std::string head = "#!/bin/sh\n#\n# Korvi print software, 2031.\n";
    EXPECT_EQ(text.compare(0, head.size(), head), 0)
        << s << "\n" << text.substr(0, 200);
  }
}

// ---------------------------------------------------------------------------
// The scripts driven by each spooler's calling convention
// ---------------------------------------------------------------------------

// One installation serves every test: it is made once per setup binary into a cache in the
// build tree (under a lock, since the tests may run as parallel processes) and each test
// process starts from a copy of it; each test sets the flag file and runs a script.
class Scripts : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    struct stat st = {};
    stat(SetupBinary().c_str(), &st);
    std::string base = std::string(KORVI_BINARY_DIR) + "/tests/package_scripts_cache";
    std::string cache = base + "_" + std::to_string(st.st_ino) + "_" +
                        std::to_string(st.st_size) + "_" + std::to_string(st.st_mtime);
    int fdLock = open((base + ".lock").c_str(), O_CREAT | O_RDWR, 0600);
    ASSERT_GE(fdLock, 0);
    flock(fdLock, LOCK_EX);
    if (!Exists(cache + "/.ready")) {
      Shell("rm -rf " + Quote(base) + "_*");  // those of earlier builds
      Sandbox build("scripts_build");
      build.MakeDist(SamplePkgDir(), "t x\n");
      Result r = build.Setup("y\n");
      if (r.status != 0) {
        flock(fdLock, LOCK_UN);
        close(fdLock);
        FAIL() << r.out << r.err;
      }
      // System V runs an interface program under the printer's name.
      for (const char* s : {"KorviPrintkvln", "v4DriverScript", "v5DriverScript", "KorviKSF"}) {
        std::string link = build.At(std::string("/opt/q_") + s);
        symlink((kAD + "/" + s).c_str(), link.c_str());
      }
      Shell("mkdir -p " + Quote(build.At("/var/spool/lpd/q3")) + " " +
            Quote(build.At("/var/spool/q1")));
      Shell("cp -a " + Quote(build.state) + " " + Quote(cache) + " && touch " +
            Quote(cache + "/.ready"));
    }
    sim_ = new Sandbox("scripts");
    Shell("cp -a " + Quote(cache) + "/. " + Quote(sim_->state) + "/");
    flock(fdLock, LOCK_UN);
    close(fdLock);
  }
  static void TearDownTestSuite() {
    delete sim_;
    sim_ = nullptr;
  }
  void SetUp() override { sim_->ClearRecords(); }

  // Writes the flag file (null: removes it).
  static void Flag(const char* text) {
    std::string path = sim_->At(kAD + "/.kp_cfg");
    if (text) WriteFile(path, text);
    else unlink(path.c_str());
  }

  // Runs a shell command inside the sandbox; cwd is an inside path.
  static Result Run(const std::string& cmd, const std::string& cwd = "/tmp",
                    const std::string& runnerOpts = "", const std::string& input = "") {
    return sim_->Run(input, runnerOpts, cmd, cwd);
  }

  static std::vector<ProgCall> Calls(const char* prog) { return sim_->Progs(prog); }

  static Sandbox* sim_;
};

Sandbox* Scripts::sim_ = nullptr;

const char kV5Call[] = "17 bob@hostx 'report###0 12' 2 'duplex a4' /tmp/f1 /tmp/f2";
const char kLprngCall[] = "-Pq1 -d/var/spool/q1 -edfA001,dfA002 -Zduplex,a4 -nbob -hhostx";

TEST_F(Scripts, QueueInterfaceSystemV) {
  Flag(" V5 ");
  Result r = Run(std::string("/opt/q_KorviPrintkvln ") + kV5Call);
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<ProgCall> c = Calls("kprkvlntty");
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].args, (Args{"-dq_KorviPrintkvln", "-i", "/tmp/f1", "/tmp/f2"}));
  EXPECT_EQ(c[0].cwd, kAD);
  EXPECT_EQ(c[0].env["PATH"], "/usr/sbin:/usr/bin");
  EXPECT_EQ(c[0].env["KavlonPrinter"], "q_KorviPrintkvln");
  EXPECT_EQ(c[0].env["KavlonRequest_id"], "17");
  EXPECT_EQ(c[0].env["KavlonUser_name"], "bob@hostx");
  EXPECT_EQ(c[0].env["KavlonTitle"], "report");  // "###0 12" cleaned off
  EXPECT_EQ(c[0].env["KavlonCopies"], "2");
  EXPECT_EQ(c[0].env["KavlonOption_list"], "duplex a4");
}

TEST_F(Scripts, EmptyOrMissingFlagFileGivesTheSystemVBranch) {
  for (const char* flag : {"", " nonsense words ", static_cast<const char*>(nullptr)}) {
    SCOPED_TRACE(flag ? flag : "(missing)");
    sim_->ClearRecords();
    Flag(flag);
    Run(std::string("/opt/q_KorviPrintkvln ") + kV5Call);
    std::vector<ProgCall> c = Calls("kprkvlntty");
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].args, (Args{"-dq_KorviPrintkvln", "-i", "/tmp/f1", "/tmp/f2"}));
    EXPECT_EQ(c[0].env["KavlonTitle"], "report");
  }
}

TEST_F(Scripts, LastRecognisedWordOfTheFlagFileWins) {
  Flag(" CUPS junk V5 ");
  Run(std::string("/opt/q_KorviPrintkvln ") + kV5Call);
  std::vector<ProgCall> c = Calls("kprkvlntty");
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].env["KavlonTitle"], "report");
}

TEST_F(Scripts, QueueInterfaceCUPS) {
  Flag(" CUPS ");
  Result r = Run(std::string("PRINTER=q2 ") + kAD + "/KorviPrintkvln " + kV5Call);
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<ProgCall> c = Calls("kprkvlntty");
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].args, (Args{"-dq2", "-i", "/tmp/f1", "/tmp/f2"}));
  EXPECT_EQ(c[0].env["KavlonPrinter"], "q2");
  EXPECT_EQ(c[0].env["KavlonTitle"], "report###0 12");  // not cleaned for CUPS
  EXPECT_EQ(c[0].env["KavlonUser_name"], "bob@hostx");
  EXPECT_EQ(c[0].cwd, kAD);
}

TEST_F(Scripts, QueueInterfaceLPRng) {
  Flag(" LPRng ");
  Result r = Run(kAD + "/KorviPrintkvln " + kLprngCall, "/var/spool/q1", "--fail kprkvlntty");
  EXPECT_EQ(r.status, 0) << r.err;  // "exit 0" whatever the back end says
  std::vector<ProgCall> c = Calls("kprkvlntty");
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].args, (Args{"-dq1", "-f", "-oduplex", "-oa4", "/var/spool/q1/dfA001",
                             "/var/spool/q1/dfA002"}));
  EXPECT_EQ(c[0].env["KavlonFileSourceDir"], "/var/spool/q1");
  EXPECT_EQ(c[0].cwd, kAD);
}

TEST_F(Scripts, QueueInterfaceBSD) {
  Flag(" BSD ");
  Result r = Run(kAD + "/KorviPrintkvln -w132 -l66", "/var/spool/lpd/q3");
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<ProgCall> c = Calls("kprkvlntty");
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].args, (Args{"-dq3", "-f"}));
  EXPECT_EQ(c[0].cwd, "/var/spool/lpd/q3");
  EXPECT_TRUE(Exists(sim_->At("/var/spool/lpd/q3/kavlonkvln.log")));
}

TEST_F(Scripts, QueueInterfaceAIX) {
  Flag(" AIX ");
  Result r = Run(kAD + "/KorviPrintkvln -a 'b c' d");
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<ProgCall> c = Calls("AixInterface");
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].args, (Args{"-a", "b", "c", "d"}));
  EXPECT_EQ(c[0].cwd, kAD);
}

void ExpectGtk(ProgCall& c) {
  EXPECT_EQ(c.env["PANGO_RC_FILE"], kAD + "/lib/gtk/modules/etc/pango/pangorc");
  EXPECT_EQ(c.env["GTK_IM_MODULE_FILE"], kAD + "/lib/gtk/modules/etc/gtk-2.0/gtk.immodules");
  EXPECT_EQ(c.env["GDK_PIXBUF_MODULE_FILE"],
            kAD + "/lib/gtk/modules/etc/gtk-2.0/gdk-pixbuf.loaders");
}

TEST_F(Scripts, V4DriverSystemV) {
  Flag(" V5 ");
  Result r = Run(std::string("/opt/q_v4DriverScript ") + kV5Call, "/tmp", "--fail driver");
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<ProgCall> c = Calls("driver");
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].args, (Args{"-dq_v4DriverScript", "-oCopies=2", "-ubob", "-t", "report-t",
                             "-oduplex", "-oa4", "/tmp/f1", "/tmp/f2"}));
  EXPECT_EQ(c[0].env["PATH"], "/usr/sbin:/usr/bin:/bin");
  EXPECT_EQ(c[0].env["PRINTER"], "q_v4DriverScript");
  EXPECT_EQ(c[0].env["KavlonRequest_id"], "-o JobID=17");
  EXPECT_EQ(c[0].env["UserName"], "-ubob");
  EXPECT_EQ(c[0].env["Title"], "-t report-t ");
  EXPECT_EQ(c[0].env["KavlonCopies"], "-oCopies=2");
  EXPECT_EQ(c[0].env["OptList"], "duplex a4");
  EXPECT_EQ(c[0].env["OptionList"], " -oduplex -oa4");
  EXPECT_EQ(c[0].env["LD_LIBRARY_PATH"], kAD + "/lib:" + kAD + "/lib/gtk:/lib:/usr/lib");
  EXPECT_EQ(c[0].env["DISPLAY"], ":0.0");
  ExpectGtk(c[0]);
  EXPECT_EQ(c[0].cwd, kAD);
}

TEST_F(Scripts, V4DriverSystemVKeepsTheDisplayAndCutsTheFileList) {
  Flag(" V5 ");
  Run("DISPLAY=host:1 /opt/q_v4DriverScript 9 ann t 1 \"flist='a b' x\" /tmp/f");
  std::vector<ProgCall> c = Calls("driver");
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].env["DISPLAY"], "host:1");
  EXPECT_EQ(c[0].env["OptionList"], " -o");
  EXPECT_EQ(c[0].args, (Args{"-dq_v4DriverScript", "-oCopies=1", "-uann", "-t", "t", "-o",
                             "/tmp/f"}));
}

TEST_F(Scripts, V4DriverCUPS) {
  Flag(" CUPS ");
  Result r = Run("PRINTER=q2 " + kAD + "/v4DriverScript 18 '\"bob\"' '\"My doc\"' 3 'a b' /tmp/f");
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<ProgCall> c = Calls("driver");
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].args, (Args{"-dq2", "-oCopies=3", "-u", "bob", "-t", "My", "doc", "-o", "a",
                             "-o", "b", "/tmp/f"}));
  EXPECT_EQ(c[0].env["PATH"], "/usr/sbin:/usr/bin:/bin");
  EXPECT_EQ(c[0].env["DISPLAY"], ":0.0");
  ExpectGtk(c[0]);
  EXPECT_EQ(c[0].cwd, kAD);
}

TEST_F(Scripts, V4DriverLPRngAndBSD) {
  for (const char* flag : {" LPRng ", " BSD "}) {
    SCOPED_TRACE(flag);
    sim_->ClearRecords();
    Flag(flag);
    Result r = Run(kAD + "/v4DriverScript " + kLprngCall, "/var/spool/q1");
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<ProgCall> c = Calls("driver");
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].args, (Args{"-dq1", "-oduplex", "-oa4", "/var/spool/q1/dfA001",
                               "/var/spool/q1/dfA002"}));
    EXPECT_EQ(c[0].env["KavlonFileSourceDir"], "/var/spool/q1");
    EXPECT_EQ(c[0].cwd, kAD);
  }
}

TEST_F(Scripts, V4DriverAIX) {
  Flag(" AIX ");
  EXPECT_EQ(Run(kAD + "/v4DriverScript x y", "/tmp", "--fail driver").status, 0);
  std::vector<ProgCall> c = Calls("driver");
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].args, (Args{"-f", "AIX", "x", "y"}));
  ExpectGtk(c[0]);
}

TEST_F(Scripts, V5DriverSystemV) {
  Flag(" V5 ");
  Result r = Run(std::string("/opt/q_v5DriverScript ") + kV5Call);
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<ProgCall> c = Calls("v5driver");
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].args, (Args{"-dq_v5DriverScript", "-oCopies=2", "-ubob", "-t", "report-t",
                             "-oduplex", "-oa4", "/tmp/f1", "/tmp/f2"}));
  EXPECT_EQ(c[0].env.count("PANGO_RC_FILE"), 0u);
  EXPECT_EQ(c[0].env.count("LD_LIBRARY_PATH"), 0u);
  EXPECT_EQ(c[0].cwd, kAD);
}

TEST_F(Scripts, V5DriverSystemVWithoutTitleOrOptions) {
  Flag(" V5 ");
  Run("/opt/q_v5DriverScript 17 bob '' 1 '' /tmp/f");
  std::vector<ProgCall> c = Calls("v5driver");
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].args, (Args{"-dq_v5DriverScript", "-oCopies=1", "-ubob", "/tmp/f"}));
}

TEST_F(Scripts, V5DriverCUPS) {
  Flag(" CUPS ");
  Run("PRINTER=q2 " + kAD + "/v5DriverScript 18 '\"bob\"' doc 3 a /tmp/f");
  std::vector<ProgCall> c = Calls("v5driver");
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].args, (Args{"-dq2", "-oCopies=3", "-u", "bob", "-t", "doc", "-o", "a", "/tmp/f"}));
  EXPECT_EQ(c[0].env.count("PANGO_RC_FILE"), 0u);
}

TEST_F(Scripts, V5DriverRunsNothingForLPRngAndBSD) {
  for (const char* flag : {" LPRng ", " BSD "}) {
    SCOPED_TRACE(flag);
    Flag(flag);
    EXPECT_EQ(Run(kAD + "/v5DriverScript " + kLprngCall, "/var/spool/q1").status, 0);
  }
  EXPECT_TRUE(Calls("v5driver").empty());
  EXPECT_TRUE(sim_->CallsOf("v5driver").empty());
}

TEST_F(Scripts, V5DriverAIX) {
  Flag(" AIX ");
  Run(kAD + "/v5DriverScript x");
  std::vector<ProgCall> c = Calls("v5driver");
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].args, (Args{"-f", "AIX", "x"}));
}

TEST_F(Scripts, FilterWrapperRerunsAFailingFilterUntilItSucceeds) {
  Flag(" V5 ");
  Result r = Run(std::string("/opt/q_KorviKSF ") + kV5Call, "/tmp", "--fail ksf=3");
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<ProgCall> c = Calls("ksf");
  ASSERT_EQ(c.size(), 4u);
  for (ProgCall& k : c) {
    EXPECT_EQ(k.args, (Args{"/tmp/f1", "/tmp/f2"}));
    EXPECT_EQ(k.env["KavlonPrinter"], "q_KorviKSF");
    EXPECT_EQ(k.env["KavlonTitle"], "report###0 12");  // the filter gets the title as is
    EXPECT_EQ(k.env["KavlonRequest_id"], "17");
    EXPECT_EQ(k.env["PATH"], "/usr/sbin:/usr/bin");
    EXPECT_EQ(k.cwd, kAD);
  }
}

TEST_F(Scripts, FilterWrapperCUPS) {
  Flag(" CUPS ");
  EXPECT_EQ(Run("PRINTER=q2 " + kAD + "/KorviKSF 1 u t 1 o /tmp/f", "/tmp", "--fail ksf=1").status, 0);
  std::vector<ProgCall> c = Calls("ksf");
  ASSERT_EQ(c.size(), 2u);
  EXPECT_EQ(c[1].args, (Args{"/tmp/f"}));
  EXPECT_EQ(c[1].env["KavlonPrinter"], "q2");
}

TEST_F(Scripts, FilterWrapperAIX) {
  Flag(" AIX ");
  EXPECT_EQ(Run(kAD + "/KorviKSF a b").status, 0);
  std::vector<ProgCall> c = Calls("ksf");
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].args, (Args{"a", "b"}));
  EXPECT_EQ(c[0].cwd, kAD);
}

TEST_F(Scripts, FilterWrapperBSDSpoolsStandardInput) {
  Flag(" BSD ");
  Result r = Run(kAD + "/KorviKSF -w132", "/var/spool/lpd/q3", "--fail ksf=1", "page data\n");
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<ProgCall> c = Calls("ksf");
  ASSERT_EQ(c.size(), 2u);
  ASSERT_EQ(c[0].args.size(), 1u);
  const std::string& job = c[0].args[0];
  const std::string prefix = "/var/spool/Korvi/kvln/q3/q3.";
  EXPECT_EQ(job.compare(0, prefix.size(), prefix), 0) << job;
  EXPECT_GT(job.size(), prefix.size());
  EXPECT_EQ(c[1].args, c[0].args);
  EXPECT_FALSE(Exists(sim_->At(job)));  // removed afterwards
}

TEST_F(Scripts, FilterWrapperLPRngCollectsTheJobFiles) {
  Flag(" LPRng ");
  Result r = Run(kAD + "/KorviKSF -Pq1 -fdfA001 -Jjob -f dfA002", "/var/spool/q1");
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<ProgCall> c = Calls("ksf");
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].args, (Args{"dfA001", "dfA002"}));
}

TEST_F(Scripts, FilterWrapperLPRngReadsStandardInputForStdin) {
  Flag(" LPRng ");
  Result r = Run("SPOOL_DIR=/var/spool/q1 " + kAD + "/KorviKSF -Pq1 '-f(stdin)'",
                 "/var/spool/q1", "", "job text\n");
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<ProgCall> c = Calls("ksf");
  ASSERT_EQ(c.size(), 1u);
  ASSERT_EQ(c[0].args.size(), 1u);
  const std::string prefix = "/var/spool/q1/q1.";
  EXPECT_EQ(c[0].args[0].compare(0, prefix.size(), prefix), 0) << c[0].args[0];
  EXPECT_FALSE(Exists(sim_->At(c[0].args[0])));
}

TEST_F(Scripts, LauncherRunsTheProgramFromTheApplicationDirectory) {
  // A launcher as the package list's "bat" writes it.
  Sandbox sim("launcher");
  sim.MakeDist(SamplePkgDir(), "m driver bat kvdriver\n");
  Result r = sim.Setup("y\n");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  sim.ClearRecords();
  Shell("mkdir -p " + Quote(sim.At("/var/spool/work")));
  r = sim.Run("", "", "/usr/bin/kvdriver -x 'a b'", "/var/spool/work");
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<ProgCall> c = sim.Progs("driver");
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].args, (Args{"-x", "a", "b"}));
  EXPECT_EQ(c[0].cwd, kAD);
  EXPECT_EQ(c[0].env["KavlonFileSourceDir"], "/var/spool/work");
}

}  // namespace
