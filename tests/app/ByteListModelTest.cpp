// The list boxes' entries: page order, exact bytes, bulk changes, and the text shown for bytes.
#include <QtTest>
#include <string>
#include <vector>

#include "ByteListModel.h"
#include "DisplayText.h"

using quarry::ByteListModel;

class ByteListModelTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void AddEntryFilesInPageOrder() {
    ByteListModel model;
    for (const char* entry : {"b", "_x", "B", "a", "\xe9t\xe9", "A", "ab", "a"}) {
      model.AddEntry(entry);
    }
    // ASCII fold first ('_' sorts before 'a' once folded), then plain bytes break ties;
    // bytes above 0x7F after ASCII; repeats kept.
    const std::vector<std::string> expected = {"_x", "A", "a", "a", "ab", "B", "b", "\xe9t\xe9"};
    QCOMPARE(model.Entries(), expected);
  }

  void SetEntriesSortsOnceAndKeepsBytes() {
    ByteListModel model;
    model.SetEntries({"zeta", "Alpha", std::string("nu\0ll", 5), "beta"});
    QCOMPARE(model.Count(), 4);
    QCOMPARE(model.At(0), std::string("Alpha"));
    QCOMPARE(model.At(2), std::string("nu\0ll", 5));
    const QByteArray bytes = model.data(model.index(2), ByteListModel::BytesRole).toByteArray();
    QCOMPARE(bytes, QByteArray("nu\0ll", 5));
  }

  void AddEntriesMergesInPageOrderAfterEqualEntries() {
    ByteListModel model;
    model.SetEntries({"b", "d"});
    model.AddEntries({"e", "B", "a", "b", "c"});
    model.AddEntries({"D"});
    const std::vector<std::string> expected = {"a", "B", "b", "b", "c", "D", "d", "e"};
    QCOMPARE(model.Entries(), expected);
    model.AddEntries({});
    QCOMPARE(model.Count(), 8);
  }

  void RemoveRowsTakesAnyOrderAndIgnoresStrays() {
    ByteListModel model;
    model.SetEntries({"a", "b", "c", "d", "e", "f"});
    model.RemoveRows({4, 0, 1, 4, 99, -1});
    const std::vector<std::string> expected = {"c", "d", "f"};
    QCOMPARE(model.Entries(), expected);
    model.RemoveRows({});
    QCOMPARE(model.Count(), 3);
  }

  void FindExactNeedsEveryByte() {
    ByteListModel model;
    model.SetEntries({"/site/a.html", "/site/A.htm", "/site/a.htm"});
    QCOMPARE(model.FindExact("/site/a.htm"), 1);
    QCOMPARE(model.FindExact("/site/A.htm"), 0);
    QCOMPARE(model.FindExact("/site/A.HTM"), -1);
    QCOMPARE(model.FindExact("/site/a"), -1);
  }

  void DisplayTextDecodesUtf8ElseLatin1() {
    QCOMPARE(quarry::DisplayText("plain"), QStringLiteral("plain"));
    QCOMPARE(quarry::DisplayText("caf\xc3\xa9"), QStringLiteral("caf\u00e9"));
    // Not UTF-8: one character per byte, nothing lost.
    const QString latin = quarry::DisplayText("caf\xe9\xff");
    QCOMPARE(latin.size(), 5);
    QCOMPARE(latin.toLatin1(), QByteArray("caf\xe9\xff"));
  }

  void CutToBytesKeepsCharactersWhole() {
    QCOMPARE(quarry::CutToBytes("abcdef", 4), std::string("abcd"));
    QCOMPARE(quarry::CutToBytes("abc", 4), std::string("abc"));
    // "\xc3\xa9" is one character: a cut through it moves before it.
    QCOMPARE(quarry::CutToBytes("ab\xc3\xa9z", 3), std::string("ab"));
    // Not UTF-8: bytes are cut where the limit falls.
    QCOMPARE(quarry::CutToBytes("ab\xe9\xe9z", 3), std::string("ab\xe9"));
    const std::string longPath = "Scanning " + std::string(400, 'p');
    QCOMPARE(quarry::CutToBytes(longPath, 255).size(), std::size_t{255});
  }
};

QTEST_MAIN(ByteListModelTest)
#include "ByteListModelTest.moc"
