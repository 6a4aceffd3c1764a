// The distribution builder and the sample package: what is built unpacks to
// the tree it was built from, whole or in pieces, and the sample uses every
// keyword and attribute of the package list.
#include <gtest/gtest.h>

#include <set>

#include "sim_util.h"

using namespace simtest;

namespace {

// Unpacks a distribution the way the installer does (join the listed pieces
// in order, uncompress, untar) into dir/work, outside the sandbox.
Result Unpack(const std::string& dist, const std::string& dir) {
  return Sh("set -e; mkdir -p " + Q(dir + "/work") + "; cd " + Q(dist) +
            "; L=disks; [ -f disks ] || L=DISKS; W=" + Q(dir + "/work") +
            "; for f in $(cat $L); do [ $f = end_of_list ] && break; cp -p $f $W; done; cd $W;"
            " for f in $(cat $L); do case $f in pkg_tar.*|PKG_TAR.*) cat $f >> Solarisi386Kvln.tar.Z;; esac; done;"
            " uncompress Solarisi386Kvln.tar.Z; tar xfp Solarisi386Kvln.tar; rm Solarisi386Kvln.tar; echo unpacked");
}

// Compares the unpacked tree with the sources the distribution was built from.
void ExpectSameTree(const std::string& work, bool extra) {
  Result d = Sh("diff -r --no-dereference " + Q(kSample + "/VLMRkvln") + " " + Q(work + "/VLMRkvln") +
                " 2>&1 && cmp " + Q(kSample + "/pkg.list") + " " + Q(work + "/pkg.list") + " 2>&1");
  EXPECT_EQ(d.status, 0) << d.out;
  EXPECT_EQ(Mode(work + "/VLMRkvln/reloc/kvln/driver"), 0755u);
  EXPECT_EQ(Mode(work + "/VLMRkvln/root/var/spool/Korvi"), 0775u);
  if (extra) {
    Result e = Sh("for f in $(cd " + Q(kSample + "/extra") + " && find . -type f); do cmp " +
                  Q(kSample + "/extra") + "/$f " + Q(work) + "/$f || exit 1; done 2>&1");
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
  EXPECT_EQ(Mode(t / "dist/setup"), 0755u);
  const double isize = std::atof(ReadFile(t / "dist/isize").c_str());
  const double tsize = std::atof(ReadFile(t / "dist/tsize").c_str());
  EXPECT_GT(isize, 0);
  EXPECT_GT(tsize, isize);  // archive, tar file and tree are there at once
  EXPECT_EQ(ReadFile(t / "dist/Solarisi386Kvln.tar.Z").substr(0, 2), "\x1f\x9d");  // compress magic
  Result u = Unpack(t / "dist", t.path());
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
  Result u = Unpack(t / "dist", t.path());
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
  Result u = Unpack(t / "dist", t.path());
  ASSERT_EQ(u.out, "unpacked\n");
  ExpectSameTree(t / "work", true);
  // Upper-case media carry the archive in pieces: one when none is asked for.
  b = MakeSampleDist("--upper", FakeSetup(t), t / "one");
  ASSERT_EQ(b.status, 0) << b.out;
  EXPECT_EQ(ReadFile(t / "one/DISKS"), "DISKS\nISIZE\nTSIZE\nPKG_TAR.01\nend_of_list\n");
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
  Sh("cp -R " + Q(kSample + "/VLMRkvln") + " " + Q(t / "VLMRkvln"));
  fs::remove(t / "VLMRkvln/reloc/kvln/ksf");
  r = Sh(Q(kMkdist) + " " + Q(t / "VLMRkvln") + " " + Q(kSample + "/pkg.list") + " " + Q(setup) + " " +
         Q(t / "b") + " 2>&1");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "sim/mkdist: " + t / "VLMRkvln" + "/pkgmap names kvln/ksf, but " + t / "VLMRkvln" +
                       "/reloc/kvln/ksf is missing\n");
  EXPECT_FALSE(fs::exists(t / "b"));
  r = Sh(Q(kMkdist) + " 2>&1");
  EXPECT_EQ(r.status, 2);
}

TEST(Sample, PackageListUsesEveryKeywordAttributeAndOperator) {
  std::string text = ReadFile(kSample + "/pkg.list");
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
  // sim/mkpkgmap writes the same map, but for the times of modification.
  const std::string strip = " | awk '$1 != \":\" { if ($2 == \"f\") $10 = \"\"; if ($2 == \"i\") $6 = \"\"; print }'";
  Result fresh = Sh(Q(kSource + "/sim/mkpkgmap") + " " + Q(kSample + "/VLMRkvln") + strip);
  Result stored = Sh("cat " + Q(kSample + "/VLMRkvln/pkgmap") + strip);
  ASSERT_EQ(fresh.status, 0);
  EXPECT_EQ(fresh.out, stored.out);
  EXPECT_NE(stored.out.find("1 f none kvln/kpqadmin 0755 root other "), std::string::npos);
  EXPECT_NE(stored.out.find("1 d none /var/spool ? ? ?"), std::string::npos);
}

}  // namespace
