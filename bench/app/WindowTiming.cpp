// Times a Build run in the window against `quarry-cli index` on the same pages (a generated
// site of thousands of pages, or the pages of a folder), and refilling the word list box with
// 200,000 words.
// Usage: QT_QPA_PLATFORM=offscreen window_timing [PAGES | DIR]   (default 4000 pages)
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ByteListBox.h"
#include "ByteListModel.h"
#include "DisplayText.h"
#include "MainDialog.h"
#include "UserPrompts.h"
#include "YesPrompts.h"
#include "io/SiteWalker.h"
#include "model/WordEntry.h"
#include "model/WordList.h"

namespace {

// A random word of 3 to 12 letters.
std::string RandomWord(std::mt19937& random) {
  std::uniform_int_distribution<int> length(3, 12);
  std::uniform_int_distribution<int> letter('a', 'z');
  std::string word(static_cast<std::size_t>(length(random)), 'a');
  for (char& c : word) c = static_cast<char>(letter(random));
  return word;
}

// Writes pages site/dNN/pageNNNN.html of about 4 KB each, words drawn from a vocabulary of
// 60,000 with a skew, as real text has. Returns their paths.
std::vector<std::string> MakeSite(const QString& root, int pages) {
  std::mt19937 random(20261208);
  std::vector<std::string> vocabulary;
  for (int i = 0; i < 60000; ++i) vocabulary.push_back(RandomWord(random));
  std::geometric_distribution<int> skew(0.0005);
  std::vector<std::string> paths;
  for (int p = 0; p < pages; ++p) {
    const QString dir = root + QStringLiteral("/d%1").arg(p / 500, 2, 10, QLatin1Char('0'));
    QDir().mkpath(dir);
    const QString path = dir + QStringLiteral("/page%1.html").arg(p, 5, 10, QLatin1Char('0'));
    std::string text = "<!DOCTYPE html>\n<html><head><title>Page " + std::to_string(p) +
                       "</title></head>\n<body>\n<h1>Heading</h1>\n<p>";
    for (int w = 0; w < 600; ++w) {
      text += vocabulary[static_cast<std::size_t>(skew(random)) % vocabulary.size()];
      text += (w % 12 == 11) ? "</p>\n<p>" : " ";
    }
    text += "</p>\n</body></html>\n";
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return {};
    file.write(text.data(), static_cast<qint64>(text.size()));
    paths.push_back(quarry::PathBytes(path));
  }
  return paths;
}

double Seconds(const QElapsedTimer& timer) {
  return static_cast<double>(timer.nsecsElapsed()) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const bool folder = argc > 1 && QFileInfo(QString::fromLocal8Bit(argv[1])).isDir();
  const int pages = argc > 1 && !folder ? std::max(1, std::atoi(argv[1])) : 4000;

  QTemporaryDir work;
  std::vector<std::string> paths;
  if (folder) {
    quarry::SiteWalker walker([](const std::string&) {});
    walker.Add(argv[1]);
    paths = walker.SortedPages();
  } else {
    std::printf("generating %d pages...\n", pages);
    paths = MakeSite(work.path() + QStringLiteral("/site"), pages);
    std::sort(paths.begin(), paths.end());
  }

  // quarry-cli index, the same pages: the folder, or the pages one by one as in the window.
  const QString cliDb = work.path() + QStringLiteral("/cli");
  QDir().mkpath(cliDb);
  QStringList arguments = {QStringLiteral("index"), QStringLiteral("--no-progress"),
                           QStringLiteral("-q"), QStringLiteral("--db"), cliDb};
  if (folder) {
    arguments.append(QString::fromLocal8Bit(argv[1]));
  } else {
    for (const std::string& path : paths) arguments.append(QString::fromStdString(path));
  }
  double cliBest = 1e9;
  for (int run = 0; run < 3; ++run) {
    QElapsedTimer timer;
    timer.start();
    const int status = QProcess::execute(QStringLiteral(QUARRY_CLI), arguments);
    cliBest = std::min(cliBest, Seconds(timer));
    if (status != 0) std::fprintf(stderr, "quarry-cli exited with %d\n", status);
  }

  // The window: Build and Save over the same pages (window shown, painting as it runs).
  const QString windowDb = work.path() + QStringLiteral("/window");
  QDir().mkpath(windowDb);
  QDir::setCurrent(windowDb);
  double buildBest = 1e9;
  double saveBest = 1e9;
  std::size_t words = 0;
  for (int run = 0; run < 3; ++run) {
    quarry::MainDialog dialog(std::make_unique<quarry::bench::YesPrompts>());
    dialog.show();
    QCoreApplication::processEvents();
    dialog.OnOpenClose();
    dialog.OnDropFiles(paths);
    QElapsedTimer timer;
    timer.start();
    dialog.OnBuild();
    buildBest = std::min(buildBest, Seconds(timer));
    timer.restart();
    dialog.OnSave();
    saveBest = std::min(saveBest, Seconds(timer));
    words = dialog.GetWordList()->Size();
    dialog.OnOpenClose();
  }
  for (const char* name : {"qrywDb.dat", "qryfDb.dat", "qryiDb.dat"}) {
    QFile a(cliDb + QLatin1Char('/') + QLatin1String(name));
    QFile b(windowDb + QLatin1Char('/') + QLatin1String(name));
    a.open(QIODevice::ReadOnly);
    b.open(QIODevice::ReadOnly);
    if (a.readAll() != b.readAll()) std::printf("DIFFERENT: %s\n", name);
  }
  std::printf("pages: %zu, distinct words: %zu\n", paths.size(), words);
  std::printf("quarry-cli index (process, scan and save): %.3f s\n", cliBest);
  std::printf("window Build: %.3f s, Save: %.3f s, together %.3f s\n", buildBest, saveBest,
              buildBest + saveBest);
  std::printf("ratio window (Build + Save) / quarry-cli: %.2f\n", (buildBest + saveBest) / cliBest);

  // Refilling the word list box with 200,000 words, as Build and Open do.
  {
    quarry::WordList wordList;
    std::mt19937 random(7);
    while (wordList.Size() < 200000) wordList.AddWord(RandomWord(random), 0);
    quarry::MainDialog dialog(std::make_unique<quarry::bench::YesPrompts>());
    dialog.show();
    QCoreApplication::processEvents();
    auto* box = dialog.findChild<quarry::ByteListBox*>(QStringLiteral("wordListBox"));
    double best = 1e9;
    double extentBest = 1e9;
    for (int run = 0; run < 3; ++run) {
      box->Entries().Clear();
      QCoreApplication::processEvents();
      QElapsedTimer timer;
      timer.start();
      std::vector<std::string> entries;
      entries.reserve(wordList.Size());
      for (auto* e = wordList.GetFirst(); e != nullptr; e = wordList.GetNext()) {
        entries.push_back(e->GetText());
      }
      box->Entries().SetEntries(std::move(entries));
      QElapsedTimer extent;
      extent.start();
      dialog.UpdateListExtent(box);
      extentBest = std::min(extentBest, Seconds(extent));
      QCoreApplication::processEvents();  // lay out and paint
      best = std::min(best, Seconds(timer));
    }
    std::printf("refill word list box, 200000 words: %.3f s (of which extent %.3f s)\n", best,
                extentBest);
  }
  return 0;
}
