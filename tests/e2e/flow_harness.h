// flow_harness.h - runs the real setup program in the simulated host (sim/run) for the
// end-to-end tests of the installer flow. Each test gets a state directory: the sandbox's
// /opt, /tmp, /var/spool, ... are its subdirectories, so a test lays out a host before the
// run and inspects it afterwards. The distribution lives in <state>/tmp/dist (inside: /tmp/dist)
// and holds a copy of setup, "disks", "isize", "tsize" and a stand-in archive.
#ifndef KORVI_TESTS_E2E_FLOW_HARNESS_H
#define KORVI_TESTS_E2E_FLOW_HARNESS_H

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

namespace flow {

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void WriteAll(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// Quoted for sh: every text passes through unchanged.
inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  return q + "'";
}

inline bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}
inline bool IsDir(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
inline bool IsLink(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}
inline std::string LinkText(const std::string& path) {
  char buf[4096];
  ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
  return n < 0 ? "" : std::string(buf, n);
}
inline int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) n++;
  return n;
}

// The agreement languages: each has installer/data/eula.<code>.txt.
inline const std::vector<std::string>& AgreementCodes() {
  static const std::vector<std::string> codes = {
      "en_US", "es_ES", "it_IT", "fr_FR", "ge_GE", "pr_BR", "cs_CZ", "fi_FI", "hu_HU", "nl_NL",
      "no_NO", "pl_PL", "ru_RU", "sv_SE", "tr_TR", "da_DK", "zh_CN", "zh_TW", "ko_KO", "ja_JP"};
  return codes;
}

// An agreement as setup prints it: the text without its final line end, a blank.
inline std::string AgreementPrompt(const std::string& code = "en_US") {
  std::string t =
      ReadAll(std::string(KORVI_SOURCE_DIR) + "/installer/data/eula." + code + ".txt");
  while (!t.empty() && (t.back() == '\n' || t.back() == '\r')) t.pop_back();
  return t + " ";
}

struct Result {
  int status = -1;
  std::string out, err;
  // stdout without the agreement prompt in front (empty when it is not there).
  std::string after;
  bool prompted = false;
  std::string agreement;  // language code of the agreement shown, "" when none
};

class FlowTest : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/korvi_flow_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    S = tmpl;
    ASSERT_EQ(Sh("mkdir -p " + Quote(S + "/tmp/dist") + " " + Quote(S + "/opt")), 0);
  }
  void TearDown() override {
    if (HasFailure()) {
      fprintf(stderr, "state kept in %s\n", S.c_str());
      return;
    }
    Sh("rm -rf " + Quote(S));
  }

  static int Sh(const std::string& cmd) {
    int rc = system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }

  // Host path of a path inside the sandbox.
  std::string H(const std::string& inside) const { return S + inside; }

  // A distribution in /tmp/dist: setup, the file list, the size files, a stand-in archive.
  void MakeDist(const std::string& dir = "/tmp/dist", const std::string& isize = "1000\n",
                const std::string& tsize = "2000\n") {
    std::string d = H(dir);
    ASSERT_EQ(Sh("mkdir -p " + Quote(d) + " && cp " + Quote(SetupBinary()) + " " +
                 Quote(d + "/setup")),
              0);
    WriteAll(d + "/disks", "disks isize tsize\nSolarisi386Kvln.tar.Z\nend_of_list\n");
    if (!isize.empty()) WriteAll(d + "/isize", isize);
    if (!tsize.empty()) WriteAll(d + "/tsize", tsize);
    WriteAll(d + "/Solarisi386Kvln.tar.Z", "stand-in archive\n");
  }

  // An installed product at <base>/Korvi/kvln (inside path), with a queue tool that records
  // its arguments and LANG in /tmp/kpqadmin.calls and its own path in /tmp/kpqadmin.paths.
  void MakeInstallation(const std::string& base) {
    std::string app = H(base + "/Korvi/kvln");
    ASSERT_EQ(Sh("mkdir -p " + Quote(app + "/bin")), 0);
    WriteAll(app + "/bin/marker", "installed\n");
    WriteAll(app + "/kpqadmin",
             "#!/bin/sh\n"
             "echo \"kpqadmin $* LANG=${LANG-unset}\" >> /tmp/kpqadmin.calls\n"
             "echo \"$0 $*\" >> /tmp/kpqadmin.paths\n");
    chmod((app + "/kpqadmin").c_str(), 0755);
  }

  // Prelude for runs that change /usr/bin: goes on only when /usr/bin is the sandbox's
  // private overlay, so that a change can never reach the host's tools (exit 99 otherwise).
  static std::string PrivateUsrBin() {
    return "grep -q ' /usr/bin overlay ' /proc/mounts || { echo 'no private /usr/bin' >&2; "
           "exit 99; }; ";
  }

  static std::string SetupBinary() { return std::string(KORVI_BINARY_DIR) + "/installer/setup"; }
  static std::string SimRun() { return std::string(KORVI_SOURCE_DIR) + "/sim/run"; }

  // Runs setup (args) in the sandbox from the distribution directory, input piped in.
  // simOpts: options of sim/run; lang null: LANG unset. Non-root by default so that the
  // package steps stop at their root check and only the flow is exercised.
  Result Run(const std::vector<std::string>& args, const std::string& input = "y\n",
             std::vector<std::string> simOpts = {"--user", "bob"}, const char* lang = nullptr,
             const std::string& prelude = "", const std::string& cwd = "/tmp/dist") {
    std::string in = S + "/.in", out = S + "/.out", err = S + "/.err";
    WriteAll(in, input);
    std::string inner = prelude;
    inner += lang ? "LANG=" + Quote(lang) + " exec ./setup" : "unset LANG; exec ./setup";
    for (const std::string& a : args) inner += " " + Quote(a);
    std::string cmd = Quote(SimRun()) + " --state " + Quote(S);
    for (const std::string& o : simOpts) cmd += " " + Quote(o);
    cmd += " --cwd " + Quote(H(cwd)) + " -- sh -c " + Quote(inner);
    cmd += " <" + Quote(in) + " >" + Quote(out) + " 2>" + Quote(err);
    Result r;
    r.status = Sh(cmd);
    r.out = ReadAll(out);
    r.err = ReadAll(err);
    for (const std::string& code : AgreementCodes()) {
      std::string prompt = AgreementPrompt(code);
      if (prompt == " " || r.out.compare(0, prompt.size(), prompt) != 0) continue;
      r.prompted = true;
      r.agreement = code;
      r.after = r.out.substr(prompt.size());
      break;
    }
    return r;
  }

  std::string Log() const { return ReadAll(H("/tmp/setup.log")); }
  std::string Calls() const { return ReadAll(S + "/calls.log"); }

  std::string S;  // state directory
};

}  // namespace flow

#endif  // KORVI_TESTS_E2E_FLOW_HARNESS_H
