// The runtime's output streams turned into lines.

#include "AgentOutputReader.h"

#include <QtTest>

using namespace kestro::companion;

class AgentOutputReaderTests : public QObject {
    Q_OBJECT

  private slots:
    void aLineInThreeChunksIsDeliveredOnce() {
        AgentOutputReader reader;
        QCOMPARE(reader.feed("Pair Li"), QStringList());
        QCOMPARE(reader.feed("nk: kestro://pa"), QStringList());
        QCOMPARE(reader.feed("ir?x=1\nCodex: "), QStringList{"Pair Link: kestro://pair?x=1"});
        QCOMPARE(reader.feed("1.0\n"), QStringList{"Codex: 1.0"});
    }

    void blankLinesAreDroppedAndLinesTrimmed() {
        AgentOutputReader reader;
        QCOMPARE(reader.feed("   \n\n\t a b \t\nlast"), QStringList{"a b"});
        // The unterminated rest waits; it is never delivered on its own.
        QCOMPARE(reader.feed(""), QStringList());
    }

    void aCharacterSplitBetweenChunksStaysWhole() {
        AgentOutputReader reader;
        const QByteArray line = QStringLiteral("Machine: Café · IP: 10.0.0.2\n").toUtf8();
        const qsizetype middleOfE = line.indexOf("\xC3") + 1;
        QCOMPARE(reader.feed(line.left(middleOfE)), QStringList());
        QCOMPARE(reader.feed(line.mid(middleOfE)),
                 QStringList{QStringLiteral("Machine: Café · IP: 10.0.0.2")});
    }

    void invalidBytesBecomeReplacementCharacters() {
        AgentOutputReader reader;
        QCOMPARE(reader.feed("a\xFF"
                             "b\n"),
                 QStringList{QStringLiteral("a\uFFFDb")});
    }

    void aCarriageReturnLineFeedDoesNotEndALine() {
        AgentOutputReader reader;
        QCOMPARE(reader.feed("one\r\ntwo\r"), QStringList());
        // Also when the pair is split between two chunks.
        QCOMPARE(reader.feed("\nthree\n"), QStringList{"one\r\ntwo\r\nthree"});
    }

    void aLineLongerThan64KiBIsCutAndNothingBeyondItIsHeld() {
        AgentOutputReader reader;
        const qsizetype limit = AgentOutputReader::kMaximumLineBytes;
        QCOMPARE(limit, 64 * 1024);
        // A runaway line without an end, fed in chunks: its first 64 KiB become one line, at once.
        QStringList lines;
        for (int chunk = 0; chunk < 40; ++chunk) {
            lines << reader.feed(QByteArray(8 * 1024, 'x'));
            QVERIFY(reader.bufferedBytes() <= limit);
        }
        QCOMPARE(lines, QStringList{QString(limit, QLatin1Char('x'))});
        // The rest of it up to its line feed is dropped; the next line is whole.
        QCOMPARE(reader.feed("tail of the long line\nnext\n"), QStringList{"next"});
        QCOMPARE(reader.bufferedBytes(), 0);
        // A character is never cut in half.
        const QByteArray euro = QStringLiteral("€").toUtf8();
        const QByteArray wide = QByteArray("ab") + euro.repeated(limit / euro.size() + 1);
        const QStringList cut = reader.feed(wide + "\n");
        QCOMPARE(cut.size(), 1);
        QVERIFY(cut.first().toUtf8().size() <= limit);
        QVERIFY(!cut.first().contains(QChar::ReplacementCharacter));
        QVERIFY(cut.first().endsWith(QStringLiteral("€")));
    }

    void resetForgetsTheUnfinishedLineAndCharacter() {
        AgentOutputReader reader;
        reader.feed("old half line \xC3");
        reader.reset();
        QCOMPARE(reader.feed("new\n"), QStringList{"new"});
    }
};

QTEST_GUILESS_MAIN(AgentOutputReaderTests)
#include "AgentOutputReaderTests.moc"
