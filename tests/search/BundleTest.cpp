// The search bundle end to end: made from an index and its pages, put on disk, read back piece by
// piece and searched, as `quarry-cli web` and `quarry-cli search --bundle` do.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "indexing/BuildEngine.h"
#include "io/OutputFolder.h"
#include "io/SitePages.h"
#include "model/TextList.h"
#include "model/WordList.h"
#include "search/BundleBuilder.h"
#include "search/BundleFormat.h"
#include "search/BundleReader.h"
#include "search/BundleSearch.h"
#include "search/BundleWriter.h"
#include "support/CaseTable.h"
#include "support/TestDirectory.h"

namespace quarry::test {

namespace fs = std::filesystem;

// An index of the pages below root, as quarry-cli index makes it, and its bundle's pages.
struct Indexed {
  WordList words;
  TextList pages;
  TextList titles;
  std::vector<BundleBuilder::Page> bundlePages;
};

void IndexSite(const std::string& root, Indexed& index) {
  SitePages walker(root + "/_search", [](const std::string&) {});
  walker.Add(root);
  BuildEngine engine(index.words, index.pages, index.titles);
  engine.Run(walker.SortedPages(), {}, {});
  for (std::size_t i = 0; i < index.pages.Size(); ++i) {
    const std::string path(index.pages.At(i));
    index.bundlePages.push_back({path, path.substr(root.size() + 1)});
  }
}

BundleBuilder::Bundle MakeBundle(Indexed& index, const std::string& source = "0123456789abcdef") {
  BundleBuilder builder;
  builder.SetJobs(2);
  return builder.Build(IndexPageWords::Of(index.words, index.pages.Size()), index.titles,
                       index.bundlePages, source);
}

// Writes bundle into out as web does; returns the refusals (nothing is written when any).
std::vector<std::string> WriteBundle(const std::string& out, const BundleBuilder::Bundle& bundle) {
  OutputFolder folder;
  EXPECT_TRUE(folder.Open(out, true)) << folder.Error();
  BundleWriter writer(folder);
  std::vector<std::string> refusals = writer.Check(bundle);
  if (!refusals.empty()) return refusals;
  writer.WritePieces(bundle);
  folder.Replace("quarry-search.json", ManifestText("../", bundle.manifest, ""));
  writer.Finish(bundle);
  return refusals;
}

std::string Pages(BundleReader& reader, const std::string& query) {
  std::string pages;
  for (const SearchHit& hit : SearchBundle(reader, ParseQuery(query, false)).hits) {
    if (!pages.empty()) pages += ' ';
    pages.append(std::to_string(hit.page));
  }
  return pages;
}

std::set<std::string> Files(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.insert(entry.path().filename().string());
  return names;
}

TEST(BundleTest, RanksTheSampleSiteAsTheTableSays) {
  TestDirectory dir("bundle");
  Indexed index;
  IndexSite(std::string(QUARRY_TEST_DATA_DIR) + "/site", index);
  const BundleBuilder::Bundle bundle = MakeBundle(index);
  EXPECT_EQ(bundle.entered, index.pages.Size());
  ASSERT_TRUE(WriteBundle(dir / "out", bundle).empty());

  BundleReader reader;
  std::string error;
  ASSERT_TRUE(reader.Open(dir / "out", error)) << error;
  EXPECT_EQ(reader.Source(), "0123456789abcdef");
  for (const CaseRow& row : ReadCaseTable("ranking-cases.tsv")) {
    EXPECT_EQ(Pages(reader, row.in), row.out) << "ranking-cases.tsv:" << row.line << " " << row.in;
  }
  EXPECT_EQ(SearchBundle(reader, ParseQuery("documentaton", false)).corrections.size(), 1U);
  const auto page = reader.PageOf(9);
  ASSERT_TRUE(page.has_value());
  EXPECT_EQ(page->second, "index.html");
}

TEST(BundleTest, SearchesTheMultilingualSiteAsTheTableSays) {
  TestDirectory dir("bundle");
  Indexed index;
  IndexSite(std::string(QUARRY_TEST_DATA_DIR) + "/multilingual", index);
  ASSERT_TRUE(WriteBundle(dir / "out", MakeBundle(index)).empty());
  BundleReader reader;
  std::string error;
  ASSERT_TRUE(reader.Open(dir / "out", error)) << error;
  for (const CaseRow& row : ReadCaseTable("multilingual-cases.tsv")) {
    std::string urls;
    for (const SearchHit& hit : SearchBundle(reader, ParseQuery(row.in, false)).hits) {
      if (!urls.empty()) urls += ' ';
      urls += reader.PageOf(hit.page).value_or(std::pair<std::string, std::string>()).second;
    }
    EXPECT_EQ(urls, row.out) << "multilingual-cases.tsv:" << row.line << " " << row.in;
  }
}

TEST(BundleTest, APageChangedSinceItWasIndexedStopsTheBuild) {
  TestDirectory dir("bundle");
  fs::copy(std::string(QUARRY_TEST_DATA_DIR) + "/site", dir / "site",
           fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  Indexed index;
  IndexSite(dir / "site", index);
  const struct {
    const char* change;
    const char* message;
  } rows[] = {
      {"words", "changed since it was indexed"},
      {"title", "changed since it was indexed"},
      {"gone", "cannot read"},
      {"not html", "no longer an HTML page"},
  };
  for (const auto& row : rows) {
    const std::string page = dir / "site/docs/guide.html";
    const std::string before = dir.Read("site/docs/guide.html");
    const std::string change = row.change;
    if (change == "words") dir.Write("site/docs/guide.html", before + " anewword");
    if (change == "title") dir.Write("site/docs/guide.html", "<title>Other</title>" + before);
    if (change == "gone") fs::remove(page);
    if (change == "not html") dir.Write("site/docs/guide.html", "plain text");
    try {
      MakeBundle(index);
      ADD_FAILURE() << row.change;
    } catch (const BundleError& error) {
      EXPECT_NE(std::string(error.what()).find("site/docs/guide.html"), std::string::npos);
      EXPECT_NE(std::string(error.what()).find(row.message), std::string::npos) << error.what();
      EXPECT_NE(std::string(error.what()).find("run quarry-cli index again"), std::string::npos);
    }
    dir.Write("site/docs/guide.html", before);
  }
}

TEST(BundleTest, NewPiecesComeBeforeTheManifestAndOnlyOurOldOnesGo) {
  TestDirectory dir("bundle");
  std::vector<BundleBuilder::Bundle> builds;
  for (const char* word : {"alpha", "beta", "gamma"}) {
    const std::string site = dir / word;
    fs::create_directory(site);
    dir.Write(std::string(word) + "/page.html",
              std::string("<html><title>") + word + "</title>" + word + " shared words");
    Indexed index;
    IndexSite(site, index);
    builds.push_back(MakeBundle(index));
  }
  const std::string out = dir / "out";
  ASSERT_TRUE(WriteBundle(out, builds[0]).empty());
  dir.Write("out/quarry-bundle/notes.txt", "not a piece");
  ASSERT_TRUE(WriteBundle(out, builds[1]).empty());
  ASSERT_TRUE(WriteBundle(out, builds[2]).empty());
  const std::set<std::string> files = Files(out + "/quarry-bundle");
  const auto has = [&files](const BundleBuilder::Bundle& b) {
    std::size_t found = 0;
    for (const auto& piece : b.pieces) found += files.count(piece.Name());
    return found;
  };
  EXPECT_EQ(has(builds[2]), builds[2].pieces.size());  // the new build
  EXPECT_EQ(has(builds[1]), builds[1].pieces.size());  // the previous one stays
  EXPECT_LT(has(builds[0]), builds[0].pieces.size());  // the one before goes, but what is shared
  EXPECT_EQ(files.count("notes.txt"), 1U);             // and what no manifest named stays
  BundleReader reader;
  std::string error;
  ASSERT_TRUE(reader.Open(out, error)) << error;
  EXPECT_EQ(Pages(reader, "gamma"), "0");
  EXPECT_EQ(Pages(reader, "alpha"), "");

  // A bundle of no page (the only one is marked noindex) still has its one shard.
  dir.Write("alpha/page.html", "<meta name=\"robots\" content=\"noindex\">alpha shared words");
  Indexed none;
  IndexSite(dir / "alpha", none);
  ASSERT_TRUE(WriteBundle(out, MakeBundle(none)).empty());
  BundleReader empty;
  ASSERT_TRUE(empty.Open(out, error)) << error;
  EXPECT_EQ(Pages(empty, "alpha"), "");
}

TEST(BundleTest, KeyPiecesCompressToAboutTheSameSizeWhateverTheirWords) {
  // Pages of random words from a small vocabulary (long postings, which hardly compress) and from
  // a large one (short postings): the key pieces of either close at about 20 kB compressed.
  TestDirectory dir("bundle-sizes");
  std::uint32_t random = 1;
  const auto next = [&random](std::uint32_t below) {
    random = random * 1664525U + 1013904223U;
    return (random >> 8) % below;
  };
  for (const std::uint32_t vocabulary : {400U, 40000U}) {
    std::vector<std::string> words(vocabulary);
    for (std::string& word : words) {
      for (int i = 0; i < 7; ++i) word += static_cast<char>('a' + next(26));
    }
    const std::string site = dir / std::to_string(vocabulary);
    fs::create_directory(site);
    for (int page = 0; page < 300; ++page) {
      std::string text = "<html><title>page</title>";
      for (int i = 0; i < 400; ++i) text += " " + words[next(vocabulary)];
      dir.Write(std::to_string(vocabulary) + "/p" + std::to_string(page) + ".html", text);
    }
    Indexed index;
    IndexSite(site, index);
    std::vector<std::size_t> sizes;
    for (const auto& piece : MakeBundle(index).pieces) {
      if (piece.kind == PieceKind::kKeys) sizes.push_back(piece.gzip.size());
    }
    ASSERT_GE(sizes.size(), 3U) << vocabulary;
    sizes.pop_back();  // the last piece holds what is left
    for (const std::size_t size : sizes) {
      EXPECT_GT(size, 14000U) << vocabulary;
      EXPECT_LT(size, 21000U) << vocabulary;
    }
  }
}

TEST(BundleTest, NamesItDidNotWriteAreRefusedAndDamageIsFound) {
  TestDirectory dir("bundle");
  const std::string site = dir / "site";
  fs::create_directory(site);
  dir.Write("site/page.html", "<html><title>Page</title>some words here");
  Indexed index;
  IndexSite(site, index);
  const BundleBuilder::Bundle bundle = MakeBundle(index);
  const std::string piece = bundle.pieces.back().Name();
  const struct {
    const char* what;
    const char* refusal;
  } rows[] = {
      {"unmarked folder", "not made by 'quarry-cli web'"},
      {"link folder", "link or not a folder"},
      {"foreign piece", "not written by 'quarry-cli web'"},
      {"fifo piece", "link or not a regular file"},
  };
  for (const auto& row : rows) {
    const std::string out = dir / row.what;
    fs::create_directory(out);
    const std::string what = row.what;
    if (what == "unmarked folder") fs::create_directory(out + "/quarry-bundle");
    if (what == "link folder") {
#ifdef _WIN32
      continue;  // Wine makes no symbolic links
#else
      fs::create_directory_symlink(dir.Path(), out + "/quarry-bundle");
#endif
    }
    if (what == "foreign piece" || what == "fifo piece") {
      // A marked folder, but no manifest of Quarry's names the file.
      fs::create_directory(out + "/quarry-bundle");
      dir.Write(std::string(row.what) + "/quarry-bundle/QUARRY-BUNDLE",
                std::string(kBundleMarkText));
      if (what == "foreign piece") {
        dir.Write(std::string(row.what) + "/quarry-bundle/" + piece, "x");
      } else {
#ifndef _WIN32
        ASSERT_EQ(::mkfifo((out + "/quarry-bundle/" + piece).c_str(), 0644), 0);
#else
        continue;  // no FIFOs on Windows
#endif
      }
    }
    const std::vector<std::string> refusals = WriteBundle(out, bundle);
    ASSERT_EQ(refusals.size(), 1U) << row.what;
    EXPECT_NE(refusals[0].find(row.refusal), std::string::npos) << refusals[0];
  }

  // A piece damaged after it was written is found when it is read.
  const std::string out = dir / "damaged";
  ASSERT_TRUE(WriteBundle(out, bundle).empty());
  for (const auto& p : bundle.pieces) {
    if (p.kind == PieceKind::kKeys) dir.Write("damaged/quarry-bundle/" + p.Name(), "garbage");
  }
  BundleReader reader;
  std::string error;
  ASSERT_TRUE(reader.Open(out, error)) << error;
  EXPECT_THROW(SearchBundle(reader, ParseQuery("words", false)), BundleError);
}

}  // namespace quarry::test
