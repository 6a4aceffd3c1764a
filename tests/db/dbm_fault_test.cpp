// Faults injected into every system call of a change: a traced child runs one store, deletion
// or archive; the test counts the child's system calls from the start of the change and, at
// the n-th, kills the child or makes a write, fsync or rename fail. n walks over every call of
// the change. After each run the file must parse whole and hold exactly the old records or
// exactly the new ones: the old after a change reported as failed, the new after one reported
// as done. The next change must then work (a rewrite file left by a killed writer is reused).
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "db/Dbm.h"
#include "db_test_util.h"

namespace {

// The tool directory in memory when /dev/shm is there: a walk makes thousands of syncs.
class DbFault : public DbTest {
 public:
  void SetUp() override {
    DbTest::SetUp();
    char tmpl[] = "/dev/shm/kdbfaultXXXXXX";
    if (access("/dev/shm", W_OK) != 0 || !mkdtemp(tmpl)) return;
    rmdir(tool_.c_str());
    tool_ = toolBuf_ = tmpl;
    pToolPath = &toolBuf_[0];
    ASSERT_EQ(chdir(tool_.c_str()), 0);
  }
};
using Records = std::map<std::string, std::string>;

enum class Fault { kKill, kWrite, kFsync, kRename };

const char* FaultName(Fault f) {
  switch (f) {
    case Fault::kKill: return "kill";
    case Fault::kWrite: return "write";
    case Fault::kFsync: return "fsync";
    case Fault::kRename: return "rename";
  }
  return "?";
}

#if defined(__x86_64__)
bool Counts(Fault f, long nr) {
  switch (f) {
    case Fault::kKill: return true;
    case Fault::kWrite: return nr == SYS_write || nr == SYS_pwrite64 || nr == SYS_writev || nr == SYS_pwritev;
    case Fault::kFsync: return nr == SYS_fsync || nr == SYS_fdatasync;
    case Fault::kRename: return nr == SYS_rename || nr == SYS_renameat || nr == SYS_renameat2;
  }
  return false;
}

// How one traced run ended.
struct FaultRun {
  bool Hit;    // the n-th counted call came
  int Result;  // the change's result (0 or 1), -1 when killed
};

// Runs change in a traced child and injects the fault at the n-th counted system call.
FaultRun RunWithFault(const std::function<int()>& change, Fault f, int n) {
  fflush(stdout);
  fflush(stderr);
  pid_t pid = fork();
  if (pid == 0) {
    if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(90);
    raise(SIGSTOP);  // the parent starts counting here
    _exit(change() ? 11 : 10);
  }
  FaultRun run = {false, -1};
  int st;
  if (pid < 0 || waitpid(pid, &st, 0) != pid || !WIFSTOPPED(st)) {
    ADD_FAILURE() << "no traced child";
    return run;
  }
  ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
  int count = 0, sig = 0;
  bool inCall = false, failing = false;
  for (;;) {
    ptrace(PTRACE_SYSCALL, pid, nullptr, reinterpret_cast<void*>(long(sig)));
    sig = 0;
    if (waitpid(pid, &st, 0) != pid) break;
    if (WIFEXITED(st)) {
      int code = WEXITSTATUS(st);
      EXPECT_TRUE(code == 10 || code == 11) << "child exit " << code;
      run.Result = code == 11;
      break;
    }
    if (WIFSIGNALED(st)) break;
    if (WSTOPSIG(st) != (SIGTRAP | 0x80)) {
      sig = WSTOPSIG(st);  // a signal of the child's own: deliver it
      continue;
    }
    user_regs_struct regs;
    ptrace(PTRACE_GETREGS, pid, nullptr, &regs);
    if (!inCall) {
      if (Counts(f, long(regs.orig_rax)) && ++count == n) {
        run.Hit = true;
        if (f == Fault::kKill) {
          kill(pid, SIGKILL);
          waitpid(pid, &st, 0);
          break;
        }
        regs.orig_rax = ~0ull;  // no such call: the kernel skips it
        ptrace(PTRACE_SETREGS, pid, nullptr, &regs);
        failing = true;
      }
      inCall = true;
    } else {
      if (failing) {
        regs.rax = static_cast<unsigned long long>(-(f == Fault::kWrite ? ENOSPC : EIO));
        ptrace(PTRACE_SETREGS, pid, nullptr, &regs);
        failing = false;
      }
      inCall = false;
    }
  }
  return run;
}
#endif

Records FileRecords(const std::string& file, bool* whole) {
  std::vector<Rec> recs;
  *whole = ParseFile(ReadBytes(file), &recs);
  Records out;
  for (const Rec& r : recs) out[r.key] = std::string(r.data.begin(), r.data.end());
  return out;
}

Records ThroughLibrary(const char* name) {
  Records out;
  DbT* db = DbTOpen(name, 0);
  DbLink* chain = DbmTGetDbLinkList(db, "");
  for (DbLink* l = chain; l; l = l->pNext)
    out[reinterpret_cast<char*>(l->pBlock)] =
        std::string(reinterpret_cast<char*>(l->pData), size_t(l->DataLen));
  DbmFreeDbLinkList(chain);
  DbTClose(db);
  return out;
}

// One change from the old records to the new, made by change; setUp writes the old records.
struct Change {
  const char* Name;
  bool Headed;
  std::function<void()> SetUp;
  std::function<int()> Make;
  Records Old, New;
};

const Records kOld = {{"k0", "zero"}, {"k1", "one"}, {"k2", "two"}, {"kx", std::string(3000, 'x')}};

Records With(Records r, const std::string& k, const std::string& v) {
  r[k] = v;
  return r;
}
Records Without(Records r, const std::string& k) {
  r.erase(k);
  return r;
}

void WriteOld(bool headed) {
  for (const auto& kv : kOld) {
    if (headed) {
      DbT* db = DbTOpen("f", 0);
      ASSERT_EQ(DbmTPutRecord(db, kv.first.c_str(), kv.second.data(), int(kv.second.size())), 1);
      DbTClose(db);
    } else {
      ASSERT_EQ(DbmPutRecord("f", kv.first.c_str(), kv.second.data(), int(kv.second.size())), 1);
    }
  }
}

std::vector<Change> Changes() {
  auto typed = [] { WriteOld(true); };
  auto plain = [] { WriteOld(false); };
  return {
      {"typed store", true, typed,
       [] {
         DbT* db = DbTOpen("f", 0);
         return DbmTPutRecord(db, "k9", "nine", 4);
       },
       kOld, With(kOld, "k9", "nine")},
      {"typed replace", true, typed,
       [] {
         DbT* db = DbTOpen("f", 0);
         return DbmTPutRecord(db, "k1", "ONE!", 4);
       },
       kOld, With(kOld, "k1", "ONE!")},
      {"typed delete", true, typed,
       [] {
         DbT* db = DbTOpen("f", 0);
         return DbmTDeleteRecord(db, "kx");
       },
       kOld, Without(kOld, "kx")},
      {"archive", true, typed,
       [] {
         DbT* db = DbTOpen("f", 4);
         DbmTPutRecord(db, "k9", "nine", 4);
         DbmTDeleteRecord(db, "k0");
         return DbmTArchiveDb(db);
       },
       kOld, Without(With(kOld, "k9", "nine"), "k0")},
      {"record-file store", false, plain, [] { return DbmPutRecord("f", "k9", "nine", 4); }, kOld,
       With(kOld, "k9", "nine")},
      {"record-file delete", false, plain, [] { return DbmDeleteRecord("f", "k1"); }, kOld,
       Without(kOld, "k1")},
      {"record-file prefix delete", false, plain, [] { return DbmDeleteRecords("f", "k"); }, kOld, {}},
  };
}

TEST_F(DbFault, EveryFaultLeavesTheOldOrTheNewRecords) {
#if !defined(__x86_64__)
  GTEST_SKIP() << "the system-call injection reads x86-64 registers";
#else
  std::string file = DbFile("f");
  int runs = 0;
  for (const Change& c : Changes()) {
    for (Fault f : {Fault::kKill, Fault::kWrite, Fault::kFsync, Fault::kRename}) {
      int n = 1;
      for (;; n++) {
        ASSERT_LT(n, 1000) << c.Name << ": the change never ends";
        std::string rm = "rm -rf '" + tool_ + "/db'";
        ASSERT_EQ(system(rm.c_str()), 0);
        c.SetUp();
        FaultRun run = RunWithFault(c.Make, f, n);
        runs++;
        SCOPED_TRACE(std::string(c.Name) + ", " + FaultName(f) + " at call " + std::to_string(n));
        bool whole;
        Records got = FileRecords(file, &whole);
        ASSERT_TRUE(whole) << "torn file";
        ASSERT_TRUE(got == c.Old || got == c.New) << "neither the old nor the new records";
        if (run.Result == 1) {
          EXPECT_EQ(got, c.New) << "a change reported as done is missing";
        } else if (run.Result == 0) {
          EXPECT_EQ(got, c.Old) << "a change reported as failed took effect";
        }
        if (!run.Hit) {
          EXPECT_EQ(run.Result, 1) << "the change failed without a fault";
          break;
        }
        // The database goes on working: a further store lands beside what the file held.
        if (c.Headed) {
          DbT* db = DbTOpen("f", 0);
          ASSERT_EQ(DbmTPutRecord(db, "after", "a", 1), 1);
          DbTClose(db);
        } else {
          ASSERT_EQ(DbmPutRecord("f", "after", "a", 1), 1);
        }
        EXPECT_EQ(ThroughLibrary("f"), With(got, "after", "a"));
      }
      if (!c.New.empty() || f != Fault::kWrite) {  // an empty file is written without a write
        EXPECT_GT(n, 1) << c.Name << ": no " << FaultName(f) << " call was made";
      }
      RecordProperty(std::string(c.Name) + " " + FaultName(f) + " calls", n - 1);
    }
  }
  RecordProperty("runs", runs);
#endif
}

}  // namespace
