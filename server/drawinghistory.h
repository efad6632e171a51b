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
class DrawingHistory {
public:
    static constexpr int BlockCount = 513; // blocks 0 to 512
    static constexpr int LastBlock = BlockCount - 1;
    static constexpr int LineLimit = 1000; // a block is closed once it holds more

    DrawingHistory();

    // Appends one complete relayed line (with its "\r\n") to the current
    // block. `blockTest` false raises the count without starting a new block.
    void append(QByteArrayView line, bool blockTest = true);
    // Empties every block and returns to block 0, line 0.
    void clear();

    // True once the last block has been closed: nothing more is stored.
    bool isFull() const { return m_blockNo > LastBlock; }
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
};
