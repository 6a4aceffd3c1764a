// The distribution builder and the sample package: what is built unpacks to
// the tree it was built from, whole or in pieces, and the sample uses every
// keyword and attribute of the package list.
#include <gtest/gtest.h>

#include <set>

#include "tests/support/sandbox.h"

using namespace ktest;
namespace fs = std::filesystem;

namespace {

// Unpacks a distribution the way the installer does (join the listed pieces
// in order, uncompress, untar) into dir/work, outside the sandbox.
Result Unpack(const std::string& dist, const std::string& dir) {
  return Capture("set -e; mkdir -p " + Quote(dir + "/work") + "; cd " + Quote(dist) +
            "; L=disks; [ -f disks ] || L=DISKS; W=" + Quote(dir + "/work") +
            "; for f in $(cat $L); do [ $f = end_of_list ] && break; cp -p $f $W; done; cd $W;"
            " for f in $(cat $L); do case $f in pkg_tar.*|PKG_TAR.*) cat $f >> Solarisi386Kvln.tar.Z;; esac; done;"
            " uncompress Solarisi386Kvln.tar.Z; tar xfp Solarisi386Kvln.tar; rm Solarisi386Kvln.tar; echo unpacked");
}

// Compares the unpacked tree with the sources the distribution was built from.
void ExpectSameTree(const std::string& work, bool extra) {
  Result d = Capture("diff -r --no-dereference " + Quote(Src("sim/sample/VLMRkvln")) + " " + Quote(work + "/VLMRkvln") +
                " 2>&1 && cmp " + Quote(Src("sim/sample/pkg.list")) + " " + Quote(work + "/pkg.list") + " 2>&1");
  EXPECT_EQ(d.status, 0) << d.out;
  EXPECT_EQ(Mode(work + "/VLMRkvln/reloc/kvln/driver"), 0755);
  EXPECT_EQ(Mode(work + "/VLMRkvln/root/var/spool/Korvi"), 0775);
  if (extra) {
    Result e = Capture("for f in $(cd " + Quote(Src("sim/sample/extra")) + " && find . -type f); do cmp " +
                  Quote(Src("sim/sample/extra")) + "/$f " + Quote(work) + "/$f || exit 1; done 2>&1");
    EXPECT_EQ(e.status, 0) << e.out;
  } else {
    EXPECT_FALSE(fs::exists(work + "/kvln.conf"));
  }
}

TEST(Mkdist, WholeArchiveUnpacksToThePackageTree) {
  TempDir t;
  Result b = MakeSampleDist("", FakeSetup(t), t / "dist", false);
  ASSERT_EQ(b.status, 0) << b.out;
  EXPECT_EQ(b.out, "sim/mkdist: wrote " + t / "dist" + " (4 files listed in disks)\n");
  EXPECT_EQ(ReadFile(t / "dist/disks"), "disks\nisize\ntsize\nSolarisi386Kvln.tar.Z\nend_of_list\n");
  EXPECT_EQ(ReadFile(t / "dist/setup"), "#!/bin/sh\necho setup\n");
  EXPECT_EQ(Mode(t / "dist/setup"), 0755);
  const double isize = std::atof(ReadFile(t / "dist/isize").c_str());
  const double tsize = std::atof(ReadFile(t / "dist/tsize").c_str());
  EXPECT_GT(isize, 0);
  EXPECT_GT(tsize, isize);  // archive, tar file and tree are there at once
  EXPECT_EQ(ReadFile(t / "dist/Solarisi386Kvln.tar.Z").substr(0, 2), "\x1f\x9d");  // compress magic
  Result u = Unpack(t / "dist", t.path);
  ASSERT_EQ(u.out, "unpacked\n");
  ExpectSameTree(t / "work", false);
}

TEST(Mkdist, PiecesJoinToTheWholeArchive) {
  TempDir t;
  const std::string setup = FakeSetup(t);
  ASSERT_EQ(MakeSampleDist("", setup, t / "whole").status, 0);
  Result b = MakeSampleDist("--pieces 3", setup, t / "dist");
  ASSERT_EQ(b.status, 0) << b.out;
  EXPECT_EQ(ReadFile(t / "dist/disks"),
            "disks\nisize\ntsize\npkg_tar.01\npkg_tar.02\npkg_tar.03\nend_of_list\n");
  EXPECT_FALSE(fs::exists(t / "dist/Solarisi386Kvln.tar.Z"));
  EXPECT_EQ(ReadFile(t / "dist/pkg_tar.01") + ReadFile(t / "dist/pkg_tar.02") + ReadFile(t / "dist/pkg_tar.03"),
            ReadFile(t / "whole/Solarisi386Kvln.tar.Z"));
  EXPECT_EQ(ReadFile(t / "dist/isize"), ReadFile(t / "whole/isize"));
  Result u = Unpack(t / "dist", t.path);
  ASSERT_EQ(u.out, "unpacked\n");
  ExpectSameTree(t / "work", true);

  b = MakeSampleDist("--piece-size 1000", setup, t / "small");
  ASSERT_EQ(b.status, 0) << b.out;
  const auto names = Lines(ReadFile(t / "small/disks"));
  ASSERT_GE(names.size(), 6u);
  EXPECT_EQ(names[3], "pkg_tar.01");
  EXPECT_EQ(names[4], "pkg_tar.02");
  EXPECT_EQ(names.back(), "end_of_list");
  for (size_t i = 3; i + 1 < names.size(); ++i) EXPECT_LE(fs::file_size(t / "small/" + names[i]), 1000u);
}

TEST(Mkdist, UpperCaseMediaAndGivenSizes) {
  TempDir t;
  Result b = MakeSampleDist("--upper --pieces 2 --isize 1000 --tsize 500", FakeSetup(t), t / "dist");
  ASSERT_EQ(b.status, 0) << b.out;
  EXPECT_FALSE(fs::exists(t / "dist/disks"));
  EXPECT_EQ(ReadFile(t / "dist/DISKS"), "DISKS\nISIZE\nTSIZE\nPKG_TAR.01\nPKG_TAR.02\nend_of_list\n");
  // The installer reads the size files by their lower-case names.
  EXPECT_EQ(ReadFile(t / "dist/isize"), "1000\n");
  EXPECT_EQ(ReadFile(t / "dist/tsize"), "500\n");
  EXPECT_EQ(ReadFile(t / "dist/ISIZE"), "1000\n");
  Result u = Unpack(t / "dist", t.path);
  ASSERT_EQ(u.out, "unpacked\n");
  ExpectSameTree(t / "work", true);
  // Upper-case media carry the archive in pieces: one when none is asked for.
  b = MakeSampleDist("--upper", FakeSetup(t), t / "one");
  ASSERT_EQ(b.status, 0) << b.out;
  EXPECT_EQ(ReadFile(t / "one/DISKS"), "DISKS\nISIZE\nTSIZE\nPKG_TAR.01\nend_of_list\n");
}

TEST(Mkdist, ModesComeFromThePackageMapNotTheCheckout) {
  // A checkout made under another umask: everything writable by group and
  // others, the spool directories closed. The archive is the same either way.
  TempDir t;
  const std::string pkg = t / "VLMRkvln";
  Capture("cp -R " + Quote(Src("sim/sample/VLMRkvln")) + " " + Quote(pkg) + " && cp -R " + Quote(Src("sim/sample/extra")) + " " +
     Quote(t / "extra") + " && cp " + Quote(Src("sim/sample/pkg.list")) + " " + Quote(t / "pkg.list") + " && chmod -R go+w " +
     Quote(pkg) + " " + Quote(t / "extra") + " " + Quote(t / "pkg.list") + " && chmod 0700 " +
     Quote(pkg + "/root/var/spool/Korvi") + " " + Quote(pkg + "/root/var/spool/Korvi/kvln"));
  // An entry that climbs out of the package leaves what it reaches alone.
  std::string map = ReadFile(pkg + "/pkgmap");
  map.insert(map.find("1 i pkginfo"), "1 f none kvln/../../../pkg.list 0777 root other 1 1 1\n");
  WriteFile(pkg + "/pkgmap", map);
  Result b = Capture(Quote(Src("sim/mkdist")) + " --extra " + Quote(t / "extra") + " " + Quote(pkg) + " " + Quote(t / "pkg.list") + " " +
                Quote(FakeSetup(t)) + " " + Quote(t / "dist") + " 2>&1");
  ASSERT_EQ(b.status, 0) << b.out;
  ASSERT_EQ(Unpack(t / "dist", t.path).out, "unpacked\n");
  const std::string w = t / "work";
  EXPECT_EQ(Mode(w + "/VLMRkvln/root/var/spool/Korvi"), 0775);
  EXPECT_EQ(Mode(w + "/VLMRkvln/root/var/spool/Korvi/kvln"), 0775);
  EXPECT_EQ(Mode(w + "/VLMRkvln/root/var/spool/Korvi/kvln/README"), 0644);
  EXPECT_EQ(Mode(w + "/VLMRkvln/reloc/kvln"), 0755);
  EXPECT_EQ(Mode(w + "/VLMRkvln/reloc/kvln/driver"), 0755);
  EXPECT_EQ(Mode(w + "/VLMRkvln/reloc/kvln/README"), 0644);
  // What the map gives no mode keeps its own, without group and other write.
  EXPECT_EQ(Mode(w + "/VLMRkvln/root/var/spool"), 0755);
  EXPECT_EQ(Mode(w + "/VLMRkvln/reloc"), 0755);
  EXPECT_EQ(Mode(w + "/VLMRkvln/pkginfo"), 0644);
  EXPECT_EQ(Mode(w + "/pkg.list"), 0644);
  EXPECT_EQ(Mode(w + "/kpadmin"), 0755);
  EXPECT_EQ(Mode(w + "/kvln.conf"), 0644);
  // The sources are not changed.
  EXPECT_EQ(Mode(pkg + "/root/var/spool/Korvi"), 0700);
  EXPECT_EQ(Mode(t / "pkg.list"), 0666);
}

TEST(Mkdist, RefusesBadInput) {
  TempDir t;
  const std::string setup = FakeSetup(t);
  WriteFile(t / "full/x", "x");
  Result r = MakeSampleDist("", setup, t / "full");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "sim/mkdist: " + t / "full" + " is not empty\n");
  r = MakeSampleDist("--pieces 2 --piece-size 10", setup, t / "a");
  EXPECT_EQ(r.out, "sim/mkdist: --pieces and --piece-size exclude each other\n");
  r = MakeSampleDist("--piece-size 10", setup, t / "tiny");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.rfind("sim/mkdist: ", 0), 0u);
  EXPECT_NE(r.out.find(" pieces of 10 bytes: at most 99, choose a larger --piece-size\n"), std::string::npos)
      << r.out;
  EXPECT_FALSE(fs::exists(t / "tiny"));
  // A package map naming a file the package lacks.
  Capture("cp -R " + Quote(Src("sim/sample/VLMRkvln")) + " " + Quote(t / "VLMRkvln"));
  fs::remove(t / "VLMRkvln/reloc/kvln/ksf");
  r = Capture(Quote(Src("sim/mkdist")) + " " + Quote(t / "VLMRkvln") + " " + Quote(Src("sim/sample/pkg.list")) + " " + Quote(setup) + " " +
         Quote(t / "b") + " 2>&1");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "sim/mkdist: " + t / "VLMRkvln" + "/pkgmap names kvln/ksf, but " + t / "VLMRkvln" +
                       "/reloc/kvln/ksf is missing\n");
  EXPECT_FALSE(fs::exists(t / "b"));
  r = Capture(Quote(Src("sim/mkdist")) + " 2>&1");
  EXPECT_EQ(r.status, 2);
}

TEST(Sample, PackageListUsesEveryKeywordAttributeAndOperator) {
  std::string text = ReadFile(Src("sim/sample/pkg.list"));
  // Lines ending in a backslash continue on the next.
  for (size_t p; (p = text.find("\\\n")) != std::string::npos;) text.replace(p, 2, " ");
  const std::set<std::string> keywords = {"dir", "dirto", "t", "c", "m", "#", "v", "s", "newdir", "checkps"};
  const std::set<std::string> attributes = {"mode", "bat", "owner", "group", "link", "name", "sed"};
  std::set<std::string> seenKeywords, seenAttributes, seenOperators;
  bool otherKeyword = false;
  for (const auto& line : Lines(text)) {
    std::istringstream in(line);
    std::vector<std::string> w;
    for (std::string x; in >> x;) w.push_back(x);
    if (w.empty()) continue;
    size_t i = 0;
    if (w[0] == "v" && w.size() >= 3) {  // v OP VERSION keyword ...
      seenKeywords.insert("v");
      seenOperators.insert(w[1]);
      i = 3;
    }
    if (i >= w.size()) continue;
    const std::string& k = w[i];
    if (keywords.count(k))
      seenKeywords.insert(k);
    else
      otherKeyword = true;
    if (k == "#") continue;
    size_t first = i + (k == "dirto" ? 3 : 2);
    for (size_t j = first; j + 1 < w.size(); j += 2) {
      seenAttributes.insert(w[j]);
      if (w[j] == "sed") break;  // the rest of the line is the script
    }
  }
  EXPECT_EQ(seenKeywords, keywords);
  EXPECT_TRUE(otherKeyword);
  EXPECT_EQ(seenAttributes, attributes);
  EXPECT_EQ(seenOperators, (std::set<std::string>{"<", "<=", "=", ">", ">="}));
}

TEST(Sample, PackageMapIsCurrent) {
  // sim/mkpkgmap writes the same map, but for the times of modification and
  // the write permission of group and others: a checkout carries only the
  // executable bit of a file, and its umask decides the rest (directories
  // come out 0755 or 0775 whatever the map says). The map decides those.
  const std::string strip =
      " | awk 'function w(d) { return (d == 2 || d == 3 || d == 6 || d == 7) ? d - 2 : d }"
      " $1 != \":\" { if ($2 == \"f\") $10 = \"\"; if ($2 == \"i\") $6 = \"\";"
      " if (($2 == \"d\" || $2 == \"f\") && $5 ~ /^[0-7][0-7][0-7][0-7]$/)"
      " $5 = substr($5, 1, 2) w(substr($5, 3, 1) + 0) w(substr($5, 4, 1) + 0); print }'";
  Result fresh = Capture(Quote(Src("sim/mkpkgmap")) + " " + Quote(Src("sim/sample/VLMRkvln")) + strip);
  Result stored = Capture("cat " + Quote(Src("sim/sample/VLMRkvln/pkgmap")) + strip);
  ASSERT_EQ(fresh.status, 0);
  EXPECT_EQ(fresh.out, stored.out);
  EXPECT_NE(stored.out.find("1 f none kvln/kpqadmin 0755 root other "), std::string::npos);
  EXPECT_NE(stored.out.find("1 d none /var/spool ? ? ?"), std::string::npos);
  EXPECT_NE(stored.out.find("1 d none /var/spool/Korvi 0755 root other\n"), std::string::npos);
  // The spool directories are open to the group.
  EXPECT_TRUE(HasLine(ReadFile(Src("sim/sample/VLMRkvln/pkgmap")), "1 d none /var/spool/Korvi 0775 root other"));
  EXPECT_TRUE(HasLine(ReadFile(Src("sim/sample/VLMRkvln/pkgmap")), "1 d none /var/spool/Korvi/kvln 0775 root other"));
}

}  // namespace
