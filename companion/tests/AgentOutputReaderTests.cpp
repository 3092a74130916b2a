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

    void resetForgetsTheUnfinishedLineAndCharacter() {
        AgentOutputReader reader;
        reader.feed("old half line \xC3");
        reader.reset();
        QCOMPARE(reader.feed("new\n"), QStringList{"new"});
    }
};

QTEST_GUILESS_MAIN(AgentOutputReaderTests)
#include "AgentOutputReaderTests.moc"
