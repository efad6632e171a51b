#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

// The drawing history of the party: every stored relayed line since the last
// clearing, in 513 blocks of text. Lines go into the current block only, so
// the text that grows per line stays small; the whole history is walked only
// when a log file is written.
//
// Counting, which the log files show as an empty line after each block: each
// append raises the line count; when it passes 1000 the next block begins,
// so a block holds 1001 lines. A greeting's colour line is counted without
// that test (see append). Once the last block is passed, lines are no longer
// stored but still counted.
//
// The stored text is also bounded in bytes. Lines may be up to 64 KiB long
// (the framing cap), so 513 x 1001 of them could grow without practical
// bound; the party's real lines are about 20 bytes, a whole history of them
// some 10 MiB. A line that would take the stored text past ByteLimit is not
// stored and the history counts as full from then on, exactly as when the
// last block is passed.
//
// An observer (the board journal) hears of every append and clearing, before
// it is carried out, so that it can record them in order; state() and
// restore() hand the whole history over at once.
class DrawingHistory {
public:
    static constexpr int BlockCount = 513; // blocks 0 to 512
    static constexpr int LastBlock = BlockCount - 1;
    static constexpr int LineLimit = 1000; // a block is closed once it holds more
    static constexpr qsizetype ByteLimit = 32 * 1024 * 1024;

    class Observer {
    public:
        virtual ~Observer() = default;
        virtual void appending(QByteArrayView line, bool blockTest) = 0;
        virtual void clearing() = 0;
    };

    // Everything the history holds, for a copy kept elsewhere. Blocks are
    // shared, not copied, until one side changes them.
    struct State {
        QList<QByteArray> blocks;
        qint16 blockNo = 0;
        qint16 lines = 0;
        qint64 stored = 0;
        qsizetype bytes = 0;
        bool bytesFull = false;
    };

    DrawingHistory();

    void setObserver(Observer* observer) { m_observer = observer; }
    State state() const;
    // False (and nothing changed) when `state` cannot be a history: another
    // number of blocks, or counts that do not match the text.
    bool restore(const State& state);

    // Appends one complete relayed line (with its "\r\n") to the current
    // block. `blockTest` false raises the count without starting a new block.
    void append(QByteArrayView line, bool blockTest = true);
    // Empties every block and returns to block 0, line 0.
    void clear();

    // True once the last block has been closed or a line no longer fitted
    // the byte bound: nothing more is stored until the history is cleared.
    bool isFull() const { return m_blockNo > LastBlock || m_bytesFull; }
    // Whether append would store `line` (false when full or when the line
    // would pass the byte bound).
    bool canStore(QByteArrayView line) const {
        return !isFull() && m_bytes + line.size() <= ByteLimit;
    }
    // Bytes of stored text since the last clearing.
    qsizetype storedBytes() const { return m_bytes; }
    qint16 blockNo() const { return m_blockNo; }
    qint16 lines() const { return m_lines; }
    const QByteArray& block(int i) const { return m_blocks.at(i); }
    // Number of lines stored since the last clearing (for the window and tools).
    qint64 storedLines() const { return m_stored; }

    // The content of a log file: blocks 0 to the current one (at most the last
    // one), each followed by "\r\n".
    QByteArray fileContent() const;

private:
    QList<QByteArray> m_blocks;
    qint16 m_blockNo = 0;
    qint16 m_lines = 0;
    qint64 m_stored = 0;
    qsizetype m_bytes = 0;
    bool m_bytesFull = false;
    Observer* m_observer = nullptr;
};
